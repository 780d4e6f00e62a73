// The sample setup information file: its syntax, and that every section it names exists.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>

namespace {

std::string Trim(std::string s) {
    const size_t a = s.find_first_not_of(" \t\r");
    const size_t b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

TEST(SampleInf, SyntaxAndReferences) {
    std::ifstream in(QMHID_INF_FILE);
    ASSERT_TRUE(in);
    std::map<std::string, std::vector<std::string>> sections;
    std::string current, line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const size_t comment = line.find(';');
        if (comment != std::string::npos && line.find('"') > comment)
            line.resize(comment);
        line = Trim(line);
        if (line.empty())
            continue;
        if (line.front() == '[') {
            ASSERT_EQ(line.back(), ']') << "line " << number;
            current = line.substr(1, line.size() - 2);
            ASSERT_FALSE(current.empty()) << "line " << number;
            ASSERT_EQ(sections.count(current), 0u) << "section twice: " << current;
            sections[current];
            continue;
        }
        ASSERT_FALSE(current.empty()) << "entry before any section, line " << number;
        ASSERT_EQ(std::count(line.begin(), line.end(), '"') % 2, 0) << "line " << number;
        sections[current].push_back(line);
    }
    for (const char* required : {"Version", "Manufacturer", "Strings", "SourceDisksFiles"})
        EXPECT_EQ(sections.count(required), 1u) << required;
    // Every section named by AddReg, CopyFiles and the models exists.
    for (const auto& [name, lines] : sections) {
        for (const std::string& l : lines) {
            const size_t eq = l.find('=');
            if (eq == std::string::npos)
                continue;
            const std::string key = Trim(l.substr(0, eq));
            if (key != "AddReg" && key != "CopyFiles")
                continue;
            std::stringstream list(l.substr(eq + 1));
            std::string target;
            while (std::getline(list, target, ','))
                EXPECT_EQ(sections.count(Trim(target)), 1u) << name << " names " << target;
        }
    }
    // Each platform's install section has its .Services and .CoInstallers sections.
    for (const char* platform : {"NTx86", "NTamd64"})
        for (const char* suffix : {"", ".Services", ".CoInstallers"})
            EXPECT_EQ(sections.count(std::string("QmPen_Install.") + platform + suffix), 1u)
                << platform << suffix;
    // Both co-installers are registered, each by its exported entry point.
    std::string all;
    for (const auto& [name, lines] : sections)
        for (const std::string& l : lines)
            all += l + "\n";
    for (const char* entry : {"QmCoIns2.dll,QmiDeviceInstaller", "QmCoIns1.dll,DeviceInstaller",
                              "QmCoIns2.dll,QmiClassInstaller", "QmCoIns1.dll,ClassInstaller"})
        EXPECT_NE(all.find(entry), std::string::npos) << entry;
}

}  // namespace
