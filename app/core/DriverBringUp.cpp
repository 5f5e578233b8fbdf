#include "DriverBringUp.h"

#include <array>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace tavrin::core {

namespace {

std::string returnCodeMessage(const char* file, int result) {
    return std::string(file) + "の初期化に失敗しました。\nReturn code : " + std::to_string(result) +
           "\nTavrinを終了します。";
}

void chooseFolder(const BringUpPlace& place) {
    struct stat st {};
    const std::string local = std::string("./") + kOvlankName;
    if (!place.keepCurrentFolder && ::stat(local.c_str(), &st) != 0 &&
        !place.programFolder.empty()) {
        // If this fails the daemon lookup below fails with its own result code.
        if (::chdir(place.programFolder.c_str()) != 0)
            return;
    }
}

bool startIpFilterDriver(DriverService& ipFilter, Messages& messages) {
    int result = ipFilter.Open(kIpFilterDriverName, kIpFilterDriverFile, {}, true, false);
    if (result == kServiceNoManager)
        messages.show("TavrinはAdministrator権限で実行する必要があります。");
    for (int retry = 0; result == kServiceDatabaseLocked && retry < kLockedRetries; ++retry)
        result = ipFilter.Open(kIpFilterDriverName, kIpFilterDriverFile, {}, true, false);
    if (result != kServiceOk) {
        messages.show(returnCodeMessage("IpFltDrv.sys", result));
        return false;
    }
    return true;
}

bool startOvlank(DriverService& ovlank, Messages& messages) {
    int result = ovlank.Open(kOvlankName, {}, {}, true, true);
    if (result == kServiceNotStartedDeleted)
        result = ovlank.Open(kOvlankName, {}, {}, true, true);
    if (result != kServiceOk) {
        messages.show(returnCodeMessage("Ovlank.sys", result));
        return false;
    }
    return true;
}

bool checkVersion(DriverService& ovlank, Messages& messages) {
    std::array<uint8_t, 4> bytes{};
    const int got = ovlank.Receive(ovlank::GET_VERSION, bytes);
    uint32_t version = 0;
    std::memcpy(&version, bytes.data(), sizeof version);
    // A reply too short to hold a version is no version, whatever its first bytes are.
    if (got == kServiceControlFailed || got < static_cast<int>(sizeof version) ||
        version != ovlank::kDriverVersion) {
        messages.show(
            "Ovlank.sysが正しくインストールされていません。\n"
            "前バージョンをアンインストールしてからTavrinをインストールし直してみてください。");
        return false;
    }
    return true;
}

bool resetDriver(DriverService& ovlank, Messages& messages) {
    // A daemon left by a program that ended without its exit path may still have its
    // filtering switch on; the new session starts with it off, as the window shows.
    for (uint32_t code : {ovlank::STOP_IP_HOOK, ovlank::CLEAR_FILTER, ovlank::STOP_FILTERING}) {
        if (ovlank.Send(code, {}) == kServiceControlFailed) {
            messages.show(controlFailedText(code));
            return false;
        }
    }
    return true;
}

} // namespace

bool bringUpDrivers(DriverService& ipFilter, DriverService& ovlank, Messages& messages,
                    const BringUpPlace& place) {
    chooseFolder(place);
    return startIpFilterDriver(ipFilter, messages) && startOvlank(ovlank, messages) &&
           checkVersion(ovlank, messages) && resetDriver(ovlank, messages);
}

} // namespace tavrin::core
