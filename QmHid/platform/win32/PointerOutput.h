// Pointer output through SendInput.
#pragma once

#include "platform/PointerOutput.h"

namespace qm {

class SendInputPointerOutput final : public IPointerOutput {
public:
    uint32_t Inject(const PointerEvent& event) override;
};

}  // namespace qm
