/* A serial device for Wine that is really the simulated boot loader: a small kernel
 * driver (64-bit, loaded by Wine's winedevice) that creates \\.\wceusbshNNN for the
 * numbers in its Parameters key ("Devices" = "1" or "1,2,..."), answers the serial
 * control codes the way a serial driver does (every setting is taken and kept), and
 * carries line changes, reads, writes and event waits to the bridge process over
 * 127.0.0.1 (sim/bridge/FRAMING.md). The bridge's port is read from the Parameters
 * value "BridgePort" (REG_DWORD) whenever a device is opened; with no bridge there the
 * open fails, as with no phone in its boot loader.
 *
 * Only the handle of a successful open is served: a handle that Wine hands out although
 * the open failed (the bridge refused it: no boot loader, or the desktop holds the
 * device) fails every call, as a port that cannot be opened would. The line settings,
 * the event mask and the time-outs the host sets are recorded under
 * Parameters\Settings as the device took them, for tests to read (FRAMING.md).
 *
 * Wine runs a driver's dispatch routines on one thread, so nothing here blocks on the
 * device: a read with nothing waiting and a wait on the event mask are held pending
 * and completed by a worker thread that asks the bridge again every few milliseconds,
 * honouring the read time-outs and the cancellation of the request. Test support only. */

#include <ntddk.h>
#include <ntddser.h>


/* ---- the few Windows Sockets calls, declared here: the socket headers do not mix
 * with the kernel's. */
typedef ULONG_PTR SOCKET;
#define INVALID_SOCKET ((SOCKET)~0)
struct in_addr_ { ULONG s_addr; };
struct sockaddr_in_ {
    short sin_family;
    USHORT sin_port;
    struct in_addr_ sin_addr;
    char sin_zero[8];
};
typedef struct { ULONG fd_count; SOCKET fd_array[64]; } fd_set_;
struct timeval_ { LONG tv_sec; LONG tv_usec; };
typedef struct { USHORT wVersion; USHORT wHighVersion; USHORT iMaxSockets; USHORT iMaxUdpDg; char* lpVendorInfo;
                 char szDescription[257]; char szSystemStatus[129]; } WSADATA_;
__declspec(dllimport) int __stdcall WSAStartup(USHORT version, WSADATA_* data);
__declspec(dllimport) SOCKET __stdcall socket(int af, int type, int protocol);
__declspec(dllimport) int __stdcall connect(SOCKET s, const void* name, int length);
__declspec(dllimport) int __stdcall send(SOCKET s, const char* buffer, int length, int flags);
__declspec(dllimport) int __stdcall recv(SOCKET s, char* buffer, int length, int flags);
__declspec(dllimport) int __stdcall select(int n, fd_set_* r, fd_set_* w, fd_set_* e, const struct timeval_* t);
__declspec(dllimport) int __stdcall closesocket(SOCKET s);
__declspec(dllimport) int __stdcall setsockopt(SOCKET s, int level, int name, const char* value, int length);

#define MAX_DEVICES 8
#define POLL_MS 5
#define ANSWER_BOUND_S 30
#define READ_CHUNK 65536

enum {
    MSG_HELLO = 0x01, MSG_LINE = 0x02, MSG_WRITE = 0x03, MSG_READ = 0x04, MSG_TAKE_EVENTS = 0x05, MSG_BYE = 0x06,
    ANS_OK = 0x80, ANS_GONE = 0x81, ANS_DATA = 0x82, ANS_NOTHING = 0x83, ANS_ZLP = 0x84, ANS_EVENTS = 0x85,
};

typedef struct {
    int number;
    PDEVICE_OBJECT device;
    UNICODE_STRING link;
    WCHAR linkText[32];
    volatile LONG lock; /* guards everything below, and the connection */
    SOCKET socket;
    BOOLEAN open;
    PFILE_OBJECT owner; /* the handle of the open that succeeded */
    BOOLEAN gone;
    /* what the host set: kept and given back */
    SERIAL_BAUD_RATE baud;
    SERIAL_LINE_CONTROL lineControl;
    SERIAL_HANDFLOW handflow;
    SERIAL_CHARS chars;
    SERIAL_TIMEOUTS timeouts;
    ULONG waitMask;
    ULONG dtr;
    /* requests held pending */
    PIRP waitIrp;
    PIRP readIrp;
    ULONG readDone;
    LONGLONG readDeadline; /* 100 ns units of KeQuerySystemTime; 0: none */
    BOOLEAN readAny;       /* the read ends with the first bytes */
    UCHAR buffer[READ_CHUNK + 16];
} SIM_PORT;

static SIM_PORT* g_ports[MAX_DEVICES];
static int g_portCount;
static UNICODE_STRING g_parameters;
static WCHAR g_parametersText[512];
static UNICODE_STRING g_settings;
static WCHAR g_settingsText[540];
static volatile LONG g_stopping;
static PVOID g_worker;

static void PauseMs(ULONG ms);

/* A plain lock of our own: Wine's kernel mutex left a waiter asleep after its release. */
static void Lock(SIM_PORT* p) {
    while (InterlockedCompareExchange(&p->lock, 1, 0) != 0) PauseMs(1);
}
static void Unlock(SIM_PORT* p) { InterlockedExchange(&p->lock, 0); }

/* The worker's own clock, in 100 ns units: the headers read the system time from the
 * kernel's shared page, which a driver under Wine cannot see. It advances by the
 * worker's pause, so a read time-out runs no shorter than asked (a little longer on a
 * busy machine). */
static volatile LONGLONG g_clock;
static LONGLONG Now(void) { return g_clock; }

static void PauseMs(ULONG ms) {
    LARGE_INTEGER t;
    t.QuadPart = -(LONGLONG)ms * 10000;
    KeDelayExecutionThread(KernelMode, FALSE, &t);
}

static NTSTATUS Finish(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

static PVOID IrpBuffer(PIRP irp) {
    if (irp->MdlAddress) return MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority);
    if (irp->AssociatedIrp.SystemBuffer) return irp->AssociatedIrp.SystemBuffer;
    return irp->UserBuffer;
}

/* ---------------------------------------------------------------- the record */

/* One REG_DWORD under Parameters\Settings; a record that cannot be written is left. */
static void Record(const WCHAR* name, ULONG value) {
    OBJECT_ATTRIBUTES attributes;
    HANDLE key;
    UNICODE_STRING valueName;
    InitializeObjectAttributes(&attributes, &g_settings, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    if (!NT_SUCCESS(ZwCreateKey(&key, KEY_WRITE, &attributes, 0, NULL, REG_OPTION_VOLATILE, NULL))) return;
    RtlInitUnicodeString(&valueName, name);
    ZwSetValueKey(key, &valueName, 0, REG_DWORD, &value, sizeof value);
    ZwClose(key);
}

/* The DCB flags word as far as it reaches a serial driver: SetCommState carries the
 * flow-control bits in the handflow record; fBinary and fParity never arrive. */
static ULONG DcbFlags(const SERIAL_HANDFLOW* h) {
    ULONG flags = 0;
    if (h->ControlHandShake & SERIAL_CTS_HANDSHAKE) flags |= 1u << 2;
    if (h->ControlHandShake & SERIAL_DSR_HANDSHAKE) flags |= 1u << 3;
    if (h->ControlHandShake & SERIAL_DTR_CONTROL) flags |= 1u << 4;
    if (h->ControlHandShake & SERIAL_DTR_HANDSHAKE) flags |= 2u << 4;
    if (h->ControlHandShake & SERIAL_DSR_SENSITIVITY) flags |= 1u << 6;
    if (h->FlowReplace & SERIAL_XOFF_CONTINUE) flags |= 1u << 7;
    if (h->FlowReplace & SERIAL_AUTO_TRANSMIT) flags |= 1u << 8;
    if (h->FlowReplace & SERIAL_AUTO_RECEIVE) flags |= 1u << 9;
    if (h->FlowReplace & SERIAL_ERROR_CHAR) flags |= 1u << 10;
    if (h->FlowReplace & SERIAL_NULL_STRIPPING) flags |= 1u << 11;
    if (h->FlowReplace & SERIAL_RTS_CONTROL) flags |= 1u << 12;
    if (h->FlowReplace & SERIAL_RTS_HANDSHAKE) flags |= 2u << 12;
    if (h->ControlHandShake & SERIAL_ERROR_ABORT) flags |= 1u << 14;
    return flags;
}

static void RecordSetting(SIM_PORT* p, ULONG code) {
    Record(L"Device", (ULONG)p->number);
    switch (code) {
        case IOCTL_SERIAL_SET_BAUD_RATE: Record(L"BaudRate", p->baud.BaudRate); break;
        case IOCTL_SERIAL_SET_LINE_CONTROL:
            Record(L"ByteSize", p->lineControl.WordLength);
            Record(L"Parity", p->lineControl.Parity);
            Record(L"StopBits", p->lineControl.StopBits);
            break;
        case IOCTL_SERIAL_SET_HANDFLOW: Record(L"DcbFlags", DcbFlags(&p->handflow)); break;
        case IOCTL_SERIAL_SET_WAIT_MASK: Record(L"EventMask", p->waitMask); break;
        case IOCTL_SERIAL_SET_TIMEOUTS:
            Record(L"ReadIntervalTimeout", p->timeouts.ReadIntervalTimeout);
            Record(L"ReadTotalTimeoutMultiplier", p->timeouts.ReadTotalTimeoutMultiplier);
            Record(L"ReadTotalTimeoutConstant", p->timeouts.ReadTotalTimeoutConstant);
            Record(L"WriteTotalTimeoutMultiplier", p->timeouts.WriteTotalTimeoutMultiplier);
            Record(L"WriteTotalTimeoutConstant", p->timeouts.WriteTotalTimeoutConstant);
            break;
        default: break;
    }
}

/* ---------------------------------------------------------------- the bridge */

static BOOLEAN SendAll(SOCKET s, const UCHAR* data, ULONG size) {
    while (size > 0) {
        int n = send(s, (const char*)data, (int)size, 0);
        if (n <= 0) return FALSE;
        data += n;
        size -= (ULONG)n;
    }
    return TRUE;
}

static BOOLEAN ReceiveAll(SOCKET s, UCHAR* data, ULONG size) {
    while (size > 0) {
        fd_set_ set;
        struct timeval_ bound = {ANSWER_BOUND_S, 0};
        int n;
        set.fd_count = 1;
        set.fd_array[0] = s;
        if (select(0, &set, NULL, NULL, &bound) != 1) return FALSE;
        n = recv(s, (char*)data, (int)size, 0);
        if (n <= 0) return FALSE;
        data += n;
        size -= (ULONG)n;
    }
    return TRUE;
}

static void Disconnect(SIM_PORT* p) {
    if (p->socket != INVALID_SOCKET) closesocket(p->socket);
    p->socket = INVALID_SOCKET;
}

/* One request and its answer. The answer's payload goes to p->buffer (at most `room`
 * bytes); FALSE when the connection failed, which counts as the device gone. */
static BOOLEAN Ask(SIM_PORT* p, UCHAR type, const UCHAR* payload, ULONG size, UCHAR* answer, ULONG* answerSize,
                   ULONG room) {
    UCHAR head[5];
    ULONG length;
    if (p->socket == INVALID_SOCKET) return FALSE;
    length = size + 1;
    head[0] = (UCHAR)length;
    head[1] = (UCHAR)(length >> 8);
    head[2] = (UCHAR)(length >> 16);
    head[3] = (UCHAR)(length >> 24);
    head[4] = type;
    if (!SendAll(p->socket, head, 5) || (size > 0 && !SendAll(p->socket, payload, size)) ||
        !ReceiveAll(p->socket, head, 5)) {
        Disconnect(p);
        return FALSE;
    }
    length = head[0] | head[1] << 8 | head[2] << 16 | (ULONG)head[3] << 24;
    if (length == 0 || length - 1 > room || (length > 1 && !ReceiveAll(p->socket, p->buffer, length - 1))) {
        Disconnect(p);
        return FALSE;
    }
    *answer = head[4];
    *answerSize = length - 1;
    return TRUE;
}

static BOOLEAN AskSimple(SIM_PORT* p, UCHAR type, const UCHAR* payload, ULONG size) {
    UCHAR answer;
    ULONG n;
    if (!Ask(p, type, payload, size, &answer, &n, 256)) return FALSE;
    if (answer == ANS_GONE) p->gone = TRUE;
    return answer == ANS_OK;
}

static ULONG BridgePort(void) {
    OBJECT_ATTRIBUTES attributes;
    HANDLE key;
    UNICODE_STRING name;
    UCHAR info[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 16];
    ULONG length = 0, port = 0;
    InitializeObjectAttributes(&attributes, &g_parameters, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    if (!NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes))) return 0;
    RtlInitUnicodeString(&name, L"BridgePort");
    if (NT_SUCCESS(ZwQueryValueKey(key, &name, KeyValuePartialInformation, info, sizeof info, &length))) {
        KEY_VALUE_PARTIAL_INFORMATION* v = (KEY_VALUE_PARTIAL_INFORMATION*)info;
        if (v->Type == REG_DWORD && v->DataLength == 4) port = *(ULONG*)v->Data;
    }
    ZwClose(key);
    return port > 0 && port < 65536 ? port : 0;
}

static BOOLEAN Connect(SIM_PORT* p) {
    static const UCHAR hello[6] = {'F', 'W', 'B', 'L', 1, 0};
    struct sockaddr_in_ address;
    ULONG port = BridgePort();
    int one = 1;
    if (port == 0) return FALSE;
    p->socket = socket(2 /* AF_INET */, 1 /* SOCK_STREAM */, 6 /* IPPROTO_TCP */);
    if (p->socket == INVALID_SOCKET) return FALSE;
    RtlZeroMemory(&address, sizeof address);
    address.sin_family = 2;
    address.sin_port = (USHORT)(((port & 0xFF) << 8) | (port >> 8));
    address.sin_addr.s_addr = 0x0100007F; /* 127.0.0.1 in network order */
    if (connect(p->socket, &address, sizeof address) != 0) {
        Disconnect(p);
        return FALSE;
    }
    setsockopt(p->socket, 6 /* IPPROTO_TCP */, 1 /* TCP_NODELAY */, (const char*)&one, sizeof one);
    if (!AskSimple(p, MSG_HELLO, hello, sizeof hello)) {
        Disconnect(p);
        return FALSE;
    }
    return TRUE;
}

/* ---------------------------------------------------------------- pending requests */

/* One look at the device for the pending wait; TRUE when it has been completed. */
static BOOLEAN ServeWait(SIM_PORT* p) {
    PIRP irp = p->waitIrp;
    UCHAR mask[4], answer;
    ULONG n, events;
    if (irp->Cancel) {
        p->waitIrp = NULL;
        Finish(irp, STATUS_CANCELLED, 0);
        return TRUE;
    }
    mask[0] = (UCHAR)p->waitMask;
    mask[1] = (UCHAR)(p->waitMask >> 8);
    mask[2] = (UCHAR)(p->waitMask >> 16);
    mask[3] = (UCHAR)(p->waitMask >> 24);
    if (!Ask(p, MSG_TAKE_EVENTS, mask, 4, &answer, &n, 256) || answer != ANS_EVENTS || n != 4) {
        p->gone = TRUE;
        p->waitIrp = NULL;
        Finish(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
        return TRUE;
    }
    events = p->buffer[0] | p->buffer[1] << 8 | p->buffer[2] << 16 | (ULONG)p->buffer[3] << 24;
    if (events == 0) return FALSE;
    p->waitIrp = NULL;
    *(ULONG*)IrpBuffer(irp) = events;
    Finish(irp, STATUS_SUCCESS, sizeof(ULONG));
    return TRUE;
}

/* One look at the device for the pending read; TRUE when it has been completed. */
static BOOLEAN ServeRead(SIM_PORT* p) {
    PIRP irp = p->readIrp;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG want = stack->Parameters.Read.Length - p->readDone;
    UCHAR request[4], answer;
    ULONG n;
    if (irp->Cancel) {
        p->readIrp = NULL;
        Finish(irp, STATUS_CANCELLED, p->readDone);
        return TRUE;
    }
    if (want > READ_CHUNK) want = READ_CHUNK;
    request[0] = (UCHAR)want;
    request[1] = (UCHAR)(want >> 8);
    request[2] = (UCHAR)(want >> 16);
    request[3] = (UCHAR)(want >> 24);
    if (!Ask(p, MSG_READ, request, 4, &answer, &n, READ_CHUNK) || answer == ANS_GONE ||
        (answer == ANS_DATA && n > want)) {
        p->gone = TRUE;
        p->readIrp = NULL;
        Finish(irp, STATUS_DEVICE_NOT_CONNECTED, p->readDone);
        return TRUE;
    }
    if (answer == ANS_DATA) {
        RtlCopyMemory((UCHAR*)IrpBuffer(irp) + p->readDone, p->buffer, n);
        p->readDone += n;
    }
    if (p->readDone == stack->Parameters.Read.Length || (p->readAny && p->readDone > 0) ||
        (p->readDeadline != 0 && Now() >= p->readDeadline)) {
        p->readIrp = NULL;
        Finish(irp, STATUS_SUCCESS, p->readDone);
        return TRUE;
    }
    return FALSE;
}

static void CompletePending(SIM_PORT* p, NTSTATUS status) {
    if (p->waitIrp) {
        PIRP irp = p->waitIrp;
        p->waitIrp = NULL;
        if (status == STATUS_SUCCESS) *(ULONG*)IrpBuffer(irp) = 0;
        Finish(irp, status, status == STATUS_SUCCESS ? sizeof(ULONG) : 0);
    }
    if (p->readIrp) {
        PIRP irp = p->readIrp;
        p->readIrp = NULL;
        Finish(irp, status, p->readDone);
    }
}

static void NTAPI Worker(PVOID context) {
    (void)context;
    while (!g_stopping) {
        int i;
        for (i = 0; i < g_portCount; ++i) {
            SIM_PORT* p = g_ports[i];
            Lock(p);
            if (p->waitIrp) ServeWait(p);
            if (p->readIrp) ServeRead(p);
            Unlock(p);
        }
        PauseMs(POLL_MS);
        g_clock += (LONGLONG)POLL_MS * 10000;
    }
    PsTerminateSystemThread(STATUS_SUCCESS);
}

/* ---------------------------------------------------------------- dispatch */

static SIM_PORT* PortOf(PDEVICE_OBJECT device) { return *(SIM_PORT**)device->DeviceExtension; }

/* Whether the request comes through the handle of the open that succeeded. */
static BOOLEAN Owned(SIM_PORT* p, PIRP irp) {
    return p->open && IoGetCurrentIrpStackLocation(irp)->FileObject == p->owner;
}

static NTSTATUS NTAPI DispatchCreate(PDEVICE_OBJECT device, PIRP irp) {
    SIM_PORT* p = PortOf(device);
    NTSTATUS status = STATUS_SUCCESS;
    Lock(p);
    if (p->open) {
        status = STATUS_ACCESS_DENIED; /* a serial port has one owner at a time */
    } else if (!Connect(p)) {
        status = STATUS_NO_SUCH_DEVICE;
    } else {
        p->open = TRUE;
        p->owner = IoGetCurrentIrpStackLocation(irp)->FileObject;
        p->gone = FALSE;
        p->waitMask = 0;
        RtlZeroMemory(&p->timeouts, sizeof p->timeouts);
    }
    Unlock(p);
    return Finish(irp, status, 0);
}

static NTSTATUS NTAPI DispatchCleanup(PDEVICE_OBJECT device, PIRP irp) {
    SIM_PORT* p = PortOf(device);
    Lock(p);
    if (Owned(p, irp)) CompletePending(p, STATUS_CANCELLED);
    Unlock(p);
    return Finish(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchClose(PDEVICE_OBJECT device, PIRP irp) {
    SIM_PORT* p = PortOf(device);
    Lock(p);
    if (Owned(p, irp)) {
        CompletePending(p, STATUS_CANCELLED);
        if (p->socket != INVALID_SOCKET) AskSimple(p, MSG_BYE, NULL, 0);
        Disconnect(p);
        p->open = FALSE;
        p->owner = NULL;
    }
    Unlock(p);
    return Finish(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchWrite(PDEVICE_OBJECT device, PIRP irp) {
    SIM_PORT* p = PortOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG length = stack->Parameters.Write.Length;
    NTSTATUS status;
    Lock(p);
    if (!Owned(p, irp)) {
        status = STATUS_DEVICE_NOT_CONNECTED;
    } else if (length == 0) {
        status = STATUS_SUCCESS;
    } else {
        status = AskSimple(p, MSG_WRITE, (const UCHAR*)IrpBuffer(irp), length) ? STATUS_SUCCESS
                                                                               : STATUS_DEVICE_NOT_CONNECTED;
    }
    Unlock(p);
    return Finish(irp, status, NT_SUCCESS(status) ? length : 0);
}

static NTSTATUS NTAPI DispatchRead(PDEVICE_OBJECT device, PIRP irp) {
    SIM_PORT* p = PortOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG length = stack->Parameters.Read.Length;
    SERIAL_TIMEOUTS t;
    LONGLONG total;
    Lock(p);
    if (!Owned(p, irp)) {
        Unlock(p);
        return Finish(irp, STATUS_DEVICE_NOT_CONNECTED, 0);
    }
    if (length == 0) {
        Unlock(p);
        return Finish(irp, STATUS_SUCCESS, 0);
    }
    if (p->readIrp) {
        Unlock(p);
        return Finish(irp, STATUS_DEVICE_BUSY, 0);
    }
    t = p->timeouts;
    p->readDone = 0;
    p->readAny = FALSE;
    p->readDeadline = 0;
    if (t.ReadIntervalTimeout == MAXULONG && t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0) {
        p->readDeadline = Now(); /* what is waiting, at once */
    } else if (t.ReadIntervalTimeout == MAXULONG && t.ReadTotalTimeoutMultiplier == MAXULONG &&
               t.ReadTotalTimeoutConstant > 0 && t.ReadTotalTimeoutConstant < MAXULONG) {
        p->readAny = TRUE; /* what is waiting, or the first bytes within the constant */
        p->readDeadline = Now() + (LONGLONG)t.ReadTotalTimeoutConstant * 10000;
    } else {
        total = (LONGLONG)t.ReadTotalTimeoutMultiplier * length + t.ReadTotalTimeoutConstant;
        if (total > 0) p->readDeadline = Now() + total * 10000;
    }
    p->readIrp = irp;
    if (ServeRead(p)) {
        Unlock(p);
        return STATUS_SUCCESS; /* completed already; the I/O manager has the status */
    }
    IoMarkIrpPending(irp);
    Unlock(p);
    return STATUS_PENDING;
}

static NTSTATUS Control(SIM_PORT* p, PIRP irp, ULONG code, PVOID buffer, ULONG in, ULONG out, ULONG_PTR* info) {
#define TAKE(field) do { if (in < sizeof(p->field)) return STATUS_BUFFER_TOO_SMALL; \
                         RtlCopyMemory(&p->field, buffer, sizeof(p->field)); } while (0)
#define GIVE(field) do { if (out < sizeof(p->field)) return STATUS_BUFFER_TOO_SMALL; \
                         RtlCopyMemory(buffer, &p->field, sizeof(p->field)); *info = sizeof(p->field); } while (0)
    UCHAR value;
    switch (code) {
        case IOCTL_SERIAL_SET_BAUD_RATE: TAKE(baud); return STATUS_SUCCESS;
        case IOCTL_SERIAL_GET_BAUD_RATE: GIVE(baud); return STATUS_SUCCESS;
        case IOCTL_SERIAL_SET_LINE_CONTROL: TAKE(lineControl); return STATUS_SUCCESS;
        case IOCTL_SERIAL_GET_LINE_CONTROL: GIVE(lineControl); return STATUS_SUCCESS;
        case IOCTL_SERIAL_SET_HANDFLOW: TAKE(handflow); return STATUS_SUCCESS;
        case IOCTL_SERIAL_GET_HANDFLOW: GIVE(handflow); return STATUS_SUCCESS;
        case IOCTL_SERIAL_SET_CHARS: TAKE(chars); return STATUS_SUCCESS;
        case IOCTL_SERIAL_GET_CHARS: GIVE(chars); return STATUS_SUCCESS;
        case IOCTL_SERIAL_SET_TIMEOUTS: TAKE(timeouts); return STATUS_SUCCESS;
        case IOCTL_SERIAL_GET_TIMEOUTS: GIVE(timeouts); return STATUS_SUCCESS;
        case IOCTL_SERIAL_SET_WAIT_MASK:
            TAKE(waitMask);
            /* A new mask ends the wait under way with no event, as on Windows. */
            if (p->waitIrp) {
                PIRP wait = p->waitIrp;
                p->waitIrp = NULL;
                *(ULONG*)IrpBuffer(wait) = 0;
                Finish(wait, STATUS_SUCCESS, sizeof(ULONG));
            }
            return STATUS_SUCCESS;
        case IOCTL_SERIAL_GET_WAIT_MASK: GIVE(waitMask); return STATUS_SUCCESS;
        case IOCTL_SERIAL_SET_DTR:
        case IOCTL_SERIAL_CLR_DTR:
            value = code == IOCTL_SERIAL_SET_DTR;
            if (!AskSimple(p, MSG_LINE, &value, 1)) return STATUS_DEVICE_NOT_CONNECTED;
            p->dtr = value;
            return STATUS_SUCCESS;
        case IOCTL_SERIAL_GET_DTRRTS:
            if (out < sizeof(ULONG)) return STATUS_BUFFER_TOO_SMALL;
            *(ULONG*)buffer = p->dtr ? SERIAL_DTR_STATE : 0;
            *info = sizeof(ULONG);
            return STATUS_SUCCESS;
        case IOCTL_SERIAL_GET_MODEMSTATUS:
            if (out < sizeof(ULONG)) return STATUS_BUFFER_TOO_SMALL;
            *(ULONG*)buffer = SERIAL_CTS_STATE | SERIAL_DSR_STATE; /* the boot loader is there and ready */
            *info = sizeof(ULONG);
            return STATUS_SUCCESS;
        case IOCTL_SERIAL_GET_COMMSTATUS: {
            SERIAL_STATUS s;
            if (out < sizeof s) return STATUS_BUFFER_TOO_SMALL;
            RtlZeroMemory(&s, sizeof s);
            RtlCopyMemory(buffer, &s, sizeof s);
            *info = sizeof s;
            return STATUS_SUCCESS;
        }
        case IOCTL_SERIAL_GET_PROPERTIES: {
            SERIAL_COMMPROP c;
            if (out < sizeof c) return STATUS_BUFFER_TOO_SMALL;
            RtlZeroMemory(&c, sizeof c);
            c.PacketLength = sizeof c;
            c.PacketVersion = 2;
            c.MaxTxQueue = c.MaxRxQueue = 0;
            c.MaxBaud = SERIAL_BAUD_USER;
            c.ProvSubType = SERIAL_SP_RS232;
            c.CurrentTxQueue = c.CurrentRxQueue = 4096;
            RtlCopyMemory(buffer, &c, sizeof c);
            *info = sizeof c;
            return STATUS_SUCCESS;
        }
        case IOCTL_SERIAL_SET_RTS:
        case IOCTL_SERIAL_CLR_RTS:
        case IOCTL_SERIAL_SET_XON:
        case IOCTL_SERIAL_SET_XOFF:
        case IOCTL_SERIAL_SET_BREAK_ON:
        case IOCTL_SERIAL_SET_BREAK_OFF:
        case IOCTL_SERIAL_SET_QUEUE_SIZE:
        case IOCTL_SERIAL_PURGE:
        case IOCTL_SERIAL_RESET_DEVICE:
        case IOCTL_SERIAL_IMMEDIATE_CHAR:
        case IOCTL_SERIAL_LSRMST_INSERT:
        case IOCTL_SERIAL_CONFIG_SIZE:
            if (code == IOCTL_SERIAL_CONFIG_SIZE && out >= sizeof(ULONG)) {
                *(ULONG*)buffer = 0;
                *info = sizeof(ULONG);
            }
            return STATUS_SUCCESS;
        default: break;
    }
    (void)irp;
    return STATUS_INVALID_DEVICE_REQUEST;
#undef TAKE
#undef GIVE
}

static NTSTATUS NTAPI DispatchControl(PDEVICE_OBJECT device, PIRP irp) {
    SIM_PORT* p = PortOf(device);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG in = stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
    ULONG_PTR info = 0;
    NTSTATUS status;
    Lock(p);
    if (!Owned(p, irp)) {
        status = STATUS_DEVICE_NOT_CONNECTED;
    } else if (code == IOCTL_SERIAL_WAIT_ON_MASK) {
        if (out < sizeof(ULONG) || p->waitMask == 0) {
            status = STATUS_INVALID_PARAMETER;
        } else if (p->waitIrp) {
            status = STATUS_INVALID_PARAMETER; /* one wait at a time, as on Windows */
        } else {
            p->waitIrp = irp;
            if (ServeWait(p)) {
                Unlock(p);
                return STATUS_SUCCESS;
            }
            IoMarkIrpPending(irp);
            Unlock(p);
            return STATUS_PENDING;
        }
    } else {
        status = Control(p, irp, code, irp->AssociatedIrp.SystemBuffer, in, out, &info);
        if (NT_SUCCESS(status)) RecordSetting(p, code);
    }
    Unlock(p);
    return Finish(irp, status, NT_SUCCESS(status) ? info : 0);
}

/* ---------------------------------------------------------------- load and unload */

static void NTAPI Unload(PDRIVER_OBJECT driver) {
    int i;
    (void)driver;
    InterlockedExchange(&g_stopping, 1);
    if (g_worker) {
        KeWaitForSingleObject(g_worker, Executive, KernelMode, FALSE, NULL);
        ObDereferenceObject(g_worker);
    }
    for (i = 0; i < g_portCount; ++i) {
        SIM_PORT* p = g_ports[i];
        CompletePending(p, STATUS_CANCELLED);
        Disconnect(p);
        IoDeleteSymbolicLink(&p->link);
        IoDeleteDevice(p->device);
        ExFreePool(p);
    }
    g_portCount = 0;
}

/* The device numbers from Parameters\Devices ("1" or "1,2,3"); number 1 when none. */
static int DeviceNumbers(int* numbers, int max) {
    OBJECT_ATTRIBUTES attributes;
    HANDLE key;
    UNICODE_STRING name;
    UCHAR info[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 256];
    ULONG length = 0;
    int count = 0;
    InitializeObjectAttributes(&attributes, &g_parameters, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    if (NT_SUCCESS(ZwOpenKey(&key, KEY_READ, &attributes))) {
        RtlInitUnicodeString(&name, L"Devices");
        if (NT_SUCCESS(ZwQueryValueKey(key, &name, KeyValuePartialInformation, info, sizeof info - 2, &length))) {
            KEY_VALUE_PARTIAL_INFORMATION* v = (KEY_VALUE_PARTIAL_INFORMATION*)info;
            const WCHAR* text = (const WCHAR*)v->Data;
            ULONG units = v->DataLength / sizeof(WCHAR), i;
            int current = -1;
            for (i = 0; i <= units; ++i) {
                WCHAR c = i < units ? text[i] : 0;
                if (c >= L'0' && c <= L'9') {
                    current = (current < 0 ? 0 : current) * 10 + (c - L'0');
                    if (current > 999) current = 999;
                } else {
                    if (current >= 0 && count < max) numbers[count++] = current;
                    current = -1;
                    if (c == 0) break;
                }
            }
        }
        ZwClose(key);
    }
    if (count == 0) numbers[count++] = 1;
    return count;
}

static void Format3(WCHAR* out, int n) {
    out[0] = (WCHAR)(L'0' + n / 100);
    out[1] = (WCHAR)(L'0' + n / 10 % 10);
    out[2] = (WCHAR)(L'0' + n % 10);
    out[3] = 0;
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registry) {
    static const WCHAR suffix[] = L"\\Parameters";
    WSADATA_ wsa;
    int numbers[MAX_DEVICES], count, i;
    HANDLE thread;
    NTSTATUS status;

    static const WCHAR settings[] = L"\\Settings";
    OBJECT_ATTRIBUTES attributes;
    HANDLE old;

    if (registry->Length / sizeof(WCHAR) + sizeof suffix / sizeof(WCHAR) >= 512) return STATUS_INVALID_PARAMETER;
    RtlCopyMemory(g_parametersText, registry->Buffer, registry->Length);
    RtlCopyMemory(g_parametersText + registry->Length / sizeof(WCHAR), suffix, sizeof suffix);
    RtlInitUnicodeString(&g_parameters, g_parametersText);
    RtlCopyMemory(g_settingsText, g_parametersText, g_parameters.Length);
    RtlCopyMemory(g_settingsText + g_parameters.Length / sizeof(WCHAR), settings, sizeof settings);
    RtlInitUnicodeString(&g_settings, g_settingsText);
    /* A new run records afresh. */
    InitializeObjectAttributes(&attributes, &g_settings, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    if (NT_SUCCESS(ZwOpenKey(&old, KEY_ALL_ACCESS, &attributes))) {
        ZwDeleteKey(old);
        ZwClose(old);
    }
    if (WSAStartup(0x0202, &wsa) != 0) return STATUS_UNSUCCESSFUL;

    driver->MajorFunction[IRP_MJ_CREATE] = DispatchCreate;
    driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchCleanup;
    driver->MajorFunction[IRP_MJ_CLOSE] = DispatchClose;
    driver->MajorFunction[IRP_MJ_READ] = DispatchRead;
    driver->MajorFunction[IRP_MJ_WRITE] = DispatchWrite;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
    driver->DriverUnload = Unload;

    count = DeviceNumbers(numbers, MAX_DEVICES);
    for (i = 0; i < count; ++i) {
        WCHAR deviceText[48] = L"\\Device\\FlashwiseSerialSim";
        UNICODE_STRING deviceName;
        PDEVICE_OBJECT device;
        SIM_PORT* p;
        size_t at = wcslen(deviceText);
        Format3(deviceText + at, numbers[i]);
        RtlInitUnicodeString(&deviceName, deviceText);
        status = IoCreateDevice(driver, sizeof(SIM_PORT*), &deviceName, FILE_DEVICE_SERIAL_PORT, 0, TRUE, &device);
        if (!NT_SUCCESS(status)) continue;
        p = (SIM_PORT*)ExAllocatePool(NonPagedPool, sizeof *p);
        if (!p) {
            IoDeleteDevice(device);
            continue;
        }
        RtlZeroMemory(p, sizeof *p);
        p->number = numbers[i];
        p->device = device;
        p->socket = INVALID_SOCKET;
        RtlCopyMemory(p->linkText, L"\\??\\wceusbsh", sizeof L"\\??\\wceusbsh");
        Format3(p->linkText + wcslen(p->linkText), numbers[i]);
        RtlInitUnicodeString(&p->link, p->linkText);
        if (!NT_SUCCESS(IoCreateSymbolicLink(&p->link, &deviceName))) {
            IoDeleteDevice(device);
            ExFreePool(p);
            continue;
        }
        *(SIM_PORT**)device->DeviceExtension = p;
        device->Flags |= DO_BUFFERED_IO;
        device->Flags &= ~DO_DEVICE_INITIALIZING;
        g_ports[g_portCount++] = p;
    }
    if (g_portCount == 0) return STATUS_UNSUCCESSFUL;

    status = PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, NULL, NULL, NULL, Worker, NULL);
    if (!NT_SUCCESS(status)) {
        Unload(driver);
        return status;
    }
    ObReferenceObjectByHandle(thread, THREAD_ALL_ACCESS, NULL, KernelMode, &g_worker, NULL);
    ZwClose(thread);
    return STATUS_SUCCESS;
}
