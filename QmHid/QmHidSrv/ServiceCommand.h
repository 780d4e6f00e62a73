// The service program's command line: "/install" or "-install", the whole string compared
// without regard to case, installs and starts the service; anything else runs it.
#pragma once

namespace qm {

inline bool IsInstallCommand(const char* commandLine) {
    if (commandLine == nullptr)
        return false;
    auto equals = [&](const char* word) {
        const char* s = commandLine;
        for (; *s != 0 && *word != 0; ++s, ++word) {
            char c = *s;
            if (c >= 'A' && c <= 'Z')
                c = static_cast<char>(c - 'A' + 'a');
            if (c != *word)
                return false;
        }
        return *s == 0 && *word == 0;
    };
    return equals("/install") || equals("-install");
}

}  // namespace qm
