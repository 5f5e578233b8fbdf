// Where a program finds its daemon and its files: beside it in the build tree,
// PREFIX/lib/tavrin and the system's settings folder when installed.
#include "ProgramParts.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace tavrin::core {
namespace {

TEST(ProgramLayout, TheDaemonBesideTheProgramWinsElseTheInstalledPlace) {
    const struct {
        const char* name;
        std::vector<std::string> daemons; // where a daemon file is, under the root
        std::string daemonFolder;         // expected, under the root
        bool installed;
    } cases[] = {
        {"build tree", {"bin/Ovlank"}, "bin", false},
        {"installed", {"lib/tavrin/Ovlank"}, "lib/tavrin", true},
        // A daemon beside the program is the build tree's rule, whatever else is there.
        {"both", {"bin/Ovlank", "lib/tavrin/Ovlank"}, "bin", false},
        // Nowhere: the old rule stays, so the lookup fails with its own result code.
        {"none", {}, "bin", false},
        // A folder of that name is no daemon.
        {"folder", {"lib/tavrin/Ovlank/"}, "bin", false},
    };
    for (const auto& c : cases) {
        test::TempFolder root;
        std::filesystem::create_directories(root / "bin");
        for (const std::string& daemon : c.daemons) {
            if (daemon.back() == '/')
                std::filesystem::create_directories(root / daemon);
            else {
                std::filesystem::create_directories(
                    std::filesystem::path(root / daemon).parent_path());
                root.write(daemon, "#!/bin/sh\n");
            }
        }
        const ProgramLayout layout = layoutOf(root / "bin", "../lib/tavrin", "/var/lib/tavrin");
        EXPECT_EQ(layout.programFolder, root / "bin") << c.name;
        EXPECT_EQ(layout.daemonFolder, root / c.daemonFolder) << c.name;
        EXPECT_EQ(layout.settingsFolder, c.installed ? "/var/lib/tavrin" : "") << c.name;
    }
}

TEST(ProgramLayout, TheInstalledPlaceIsFoundFromAnyPrefix) {
    const struct {
        std::string program;
        std::string relative;
        std::string daemonFolder;
    } cases[] = {
        {"/usr/bin", "../lib/tavrin", "/usr/lib/tavrin"},
        {"/usr/local/bin", "../lib/tavrin", "/usr/local/lib/tavrin"},
        {"/opt/t/bin", "./../libexec/./tavrin/", "/opt/t/libexec/tavrin"},
        {"/bin", "../lib/tavrin", "/lib/tavrin"},
    };
    for (const auto& c : cases) {
        test::TempFolder root;
        std::filesystem::create_directories(root.path() + c.daemonFolder);
        root.write(c.daemonFolder.substr(1) + "/Ovlank", "");
        std::filesystem::create_directories(root.path() + c.program);
        const ProgramLayout layout = layoutOf(root.path() + c.program, c.relative, "/s");
        EXPECT_EQ(layout.daemonFolder, root.path() + c.daemonFolder) << c.program;
        EXPECT_EQ(layout.settingsFolder, "/s") << c.program;
    }
}

} // namespace
} // namespace tavrin::core
