// Runs the real tavrinctl commands on command files.
#include "RunProcess.h"
#include "TempFolder.h"
#include "TestPaths.h"

#include <gtest/gtest.h>

namespace tavrin {

TEST(CommandsCommand, ListsEveryCommandOrSaysWhyNot) {
    const std::string ctl = std::string(test::kBinDir) + "/tavrinctl";
    test::TempFolder dir;
    const std::string file = dir.file("ExternalCommand.ini");
    test::writeBytes(file, "[External Command1]\r\n1,0,2,grep,grep -e a,b\r\n0,1,0,x,\r\n");

    auto r = test::runProcess({ctl, "commands", file});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, "2 commands in " + file +
                         "\n"
                         "1. grep\n"
                         "   command line: grep -e a,b\n"
                         "   in menu: yes, target: 2 (packet monitor), show window: 0\n"
                         "2. x\n"
                         "   command line: \n"
                         "   in menu: no, target: 0 (no monitor), show window: 1\n");

    // Control bytes of a hand-edited file are shown escaped, never sent to the terminal.
    test::writeBytes(file, "[External Command1]\n1,0,1,\x1b[2Jclear,printf '\x07'\n");
    r = test::runProcess({ctl, "commands", file});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_NE(r.out.find("1. \\x1b[2Jclear\n   command line: printf '\\x07'\n"), std::string::npos)
        << r.out;

    r = test::runProcess({ctl, "commands", dir.file("missing.ini")});
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_NE(r.err.find("cannot read"), std::string::npos);
    EXPECT_EQ(test::runProcess({ctl, "commands", "a", "b"}).exitStatus, 2);
}

} // namespace tavrin
