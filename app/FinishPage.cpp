#include "app/FinishPage.h"

#include "app/ResponsiveWaits.h"
#include "update/HelperDeployment.h"

namespace flashwise::app {

void FinishPage::OnFinish() {
    if (finishing_) return;
    finishing_ = true;
    PauseResponsively(wizard_.platform, kFinishPauseMs);
    update::DeleteWrittenFiles(wizard_.platform);
    // As the close the button asks for would end it.
    view_.End(kPageCancel);
}

}  // namespace flashwise::app
