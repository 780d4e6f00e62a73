// There are no window stations or desktops here: the pointer output reaches the session itself.
#include "platform/InputDesktop.h"

namespace qm {

void InputDesktop::Attach() {
    attached_ = true;
}
void InputDesktop::Reattach() {}
void InputDesktop::Restore() {
    attached_ = false;
}

}  // namespace qm
