// Keeps a read thread on the desktop that receives user input, so that the input it injects
// reaches the user. Windows switches window station and desktop; elsewhere there is nothing to do.
#pragma once

#include <cstdint>

namespace qm {

class InputDesktop {
public:
    InputDesktop() = default;
    ~InputDesktop() { Restore(); }
    InputDesktop(const InputDesktop&) = delete;
    InputDesktop& operator=(const InputDesktop&) = delete;

    // Remembers the thread's desktop and the process's window station, then moves to the
    // interactive station and its input desktop. Failures are ignored.
    void Attach();
    // Opens the input desktop again and moves the thread to it (the user may have switched).
    void Reattach();
    // Gives back what Attach remembered and closes what it opened.
    void Restore();

private:
    bool attached_ = false;
    // Handles of the Windows backend; unused where there are no desktops.
    [[maybe_unused]] intptr_t oldDesktop_ = 0;
    [[maybe_unused]] intptr_t oldStation_ = 0;
    [[maybe_unused]] intptr_t station_ = 0;
    [[maybe_unused]] intptr_t desktop_ = 0;
};

}  // namespace qm
