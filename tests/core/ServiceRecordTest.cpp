#include "ServiceFolder.h"

#include <gtest/gtest.h>

namespace tavrin::core {
namespace {

TEST(ServiceRecord, RoundTripsAndRefusesWhatItDoesNotKnow) {
    ServiceFolder::Record record;
    record.config = {"/opt/tavrin/Ovlank",
                     "/run/tavrin/Ovlank",
                     {"--queue", "7", "a=b"},
                     {"--remove", "--chains", "OVLANK"}};
    record.pid = 4321;
    record.startTime = 123456789012ULL;
    const std::string text = formatServiceRecord(record);
    EXPECT_EQ(text, "executable=/opt/tavrin/Ovlank\ndevice=/run/tavrin/Ovlank\nargument=--queue\n"
                    "argument=7\nargument=a=b\ncleanup=--remove\ncleanup=--chains\n"
                    "cleanup=OVLANK\npid=4321\nstarttime=123456789012\n");
    ServiceFolder::Record back;
    ASSERT_TRUE(parseServiceRecord(text, back));
    EXPECT_EQ(back.config, record.config);
    EXPECT_EQ(back.pid, 4321);
    EXPECT_EQ(back.startTime, 123456789012ULL);
    // A record of a run that had no clean-up command reads as one without.
    ASSERT_TRUE(parseServiceRecord("executable=/x\ndevice=/d\nargument=-q\n", back));
    EXPECT_EQ(back.config, (ServiceConfig{"/x", "/d", {"-q"}, {}}));

    const char* broken[] = {
        "",                                            // no executable or device
        "executable=/x\n",                             // no device
        "executable=/x\ndevice=/d\npid=-1\n",          // not a number
        "executable=/x\ndevice=/d\npid=99999999999\n", // out of range
        "executable=/x\ndevice=/d\nstarttime=1x\n",
        "executable=/x\ndevice=/d\nshell=rm -rf /\n", // unknown key
        "executable=/x\ndevice=/d\njunk\n",
    };
    for (const char* text2 : broken) {
        ServiceFolder::Record out;
        out.pid = 77;
        EXPECT_FALSE(parseServiceRecord(text2, out)) << text2;
        EXPECT_EQ(out.pid, 77) << "a refused record leaves the output alone";
    }
}

} // namespace
} // namespace tavrin::core
