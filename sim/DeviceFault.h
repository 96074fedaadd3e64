#pragma once
// Ways the simulated boot loader can be told to misbehave, and where.

#include <cstdint>

namespace flashwise::sim {

// The places in a unit's exchange where the device acts.
enum class Step {
    Announce,       // a request block with flag 1 is complete: the readiness reply
    Request,        // a request block with flag 0 is complete: ready for the header
    Header,         // the section header is complete: ready for the data
    Data,           // the data are complete: progress records, then the result
    EndOfTransfer,  // the end-of-transfer block is complete
};

enum class Misbehaviour {
    Silent,             // no reply and no serial event at this step
    ShiftRecord,        // `count` stray bytes (`value`, low byte) before the step's first record
    ResultCode,         // Announce: readiness value `value` instead of 0x77; Data: result `value` instead of the verdict
    ReadinessWord,      // Announce: word 0x08 of the readiness record is `value` instead of 1
    UnknownResults,     // Data: `count` result records with the unfinished value `value` before the verdict
    ZeroLengthPackets,  // `count` zero-length packets (empty reads on the serial link) before the step's reply
    RejectChecksum,     // Data: the unit is judged as if its byte checksum were wrong
    Vanish,             // the device disappears at this step (Data: after `count` data bytes)
};

struct DeviceFault {
    Misbehaviour what = Misbehaviour::Silent;
    Step step = Step::Announce;
    int unit = 0;  // which announced unit, counting from 1 in the order announced; 0: the first one that reaches the step
    std::uint32_t value = 0;
    std::uint32_t count = 1;
};

}  // namespace flashwise::sim
