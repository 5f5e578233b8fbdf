// Reading a settings file, against reading the same bytes and splitting them into
// lines, in the same run. For each size it writes files of several shapes and times:
//   baseline  read() the whole file and copy it line by line into strings
//   reader    the program's way: the file profile and the settings reader filling a
//             model, from the file on disk
// and reports the heap each one held at its peak. Shapes:
//   program   sections as the program writes them, Japanese names and comments
//   cp932     the same file as the Windows version wrote it (CP932, CR LF)
//   mixed     the UTF-8 file with one Latin-1 byte in an early comment, so that it
//             is read line by line
//   small     many short filter sections (most filters per byte)
//   long      few sections with very long port lists and texts
// Usage: settings_bench [MB ...] [SHAPE ...]   default 6 60 and every shape
#include "AdapterList.h"
#include "FilePrivateProfile.h"
#include "IniFileObject.h"
#include "IniFileReader.h"
#include "Messages.h"
#include "PosixFileSystem.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iconv.h>
#include <malloc.h>
#include <new>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The heap held by operator new, now and at its highest since the last reset.
std::atomic<size_t> g_live{0};
std::atomic<size_t> g_peak{0};

void countAllocation(void* p) {
    const size_t now = g_live.fetch_add(malloc_usable_size(p)) + malloc_usable_size(p);
    size_t peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
}

} // namespace

void* operator new(size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr)
        throw std::bad_alloc();
    countAllocation(p);
    return p;
}
void operator delete(void* p) noexcept {
    if (p != nullptr)
        g_live.fetch_sub(malloc_usable_size(p));
    std::free(p);
}
void operator delete(void* p, size_t) noexcept {
    operator delete(p);
}

namespace {

using Clock = std::chrono::steady_clock;

class QuietMessages final : public tavrin::Messages {
public:
    void show(std::string_view, std::string_view, tavrin::MessageIcon) override { ++shown; }
    tavrin::Answer askYesNo(std::string_view, std::string_view, tavrin::MessageIcon) override {
        return tavrin::Answer::No;
    }
    tavrin::Answer askYesNoCancel(std::string_view, std::string_view,
                                  tavrin::MessageIcon) override {
        return tavrin::Answer::Cancel;
    }
    int shown = 0;
};

// No adapters: the list is the entry for no adapter alone, as without a kernel.
class NoAdapters final : public tavrin::AdapterSource {
public:
    std::optional<std::vector<tavrin::AdapterEntry>> listAdapters() override {
        return std::vector<tavrin::AdapterEntry>{};
    }
};

[[noreturn]] void die(const char* what) {
    std::fprintf(stderr, "settings_bench: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

std::string packetSection(int n) {
    const std::string i = std::to_string(n);
    return "[PacketFilter" + i + "]\nPROTOCOL=6\nADAPTER_NAME=none\nOTHER_IP=10.0." +
           std::to_string(n % 250) +
           ".1\nMY_IP=0.0.0.0\nIS_MY_IP=FALSE\nOTHER_IP_MASK=255.255.255.0\n"
           "OTHER_PORT=80,443,8080-8090\nIS_OTHER_ALL_PORT=FALSE\nMY_IP_MASK=0.0.0.0\nMY_PORT=\n"
           "IS_MY_ALL_PORT=TRUE\nDROP=FALSE\nDROP_SYN_ONLY=TRUE\nBANDWIDTH=30\nDO_BAND=FALSE\n"
           "MINIMUM_PACKET_SIZE=100\nDIR=UP\nAVAILABLE=TRUE\nCOMMENT="
           "社内サーバーへの接続を許可する（" +
           i + "）\nAPPNAME=firefox\nFILTER_NAME=ウェブ閲覧" + i +
           "\nID=" + std::to_string(n % 63 + 1) + "\n\n";
}

std::string dynamicSection(int n) {
    const std::string i = std::to_string(n);
    return "[DynamicFilter" + i +
           "]\nDROP=TRUE\nDROP_SYN_ONLY=FALSE\nBANDWIDTH=30\nDO_BAND=FALSE\n"
           "MINIMUM_PACKET_SIZE=100\nAVAILABLE=TRUE\nCOMMENT=夜間は遮断\nFILTER_NAME=夜間" +
           i +
           "\nTRIGGER_RUNNING_PROCESS_NAME=backup\nTRIGGER_CONNECTING_PROCESS_NAME=\n"
           "TRIGGER_TOTAL_UP_BANDWIDTH_LOW=0\nTRIGGER_TOTAL_UP_BANDWIDTH_HIGH=0\n"
           "TRIGGER_TOTAL_DOWN_BANDWIDTH_LOW=0\nTRIGGER_TOTAL_DOWN_BANDWIDTH_HIGH=0\n"
           "TRIGGER_FILTER_BANDWIDTH_LOW=0\nTRIGGER_FILTER_BANDWIDTH_HIGH=0\n"
           "TRIGGER_FILTER_BANDWIDTH_ID=0\nTARGET_FILTER_ID=1,2\n\n";
}

const char kCommon[] = "[Common Settings]\nINI_FILE_VERSION=1300\nAUTO_SAVE=TRUE\n"
                       "LCFILTER_COLUMN_SIZE=130,59,85,80,65,39,65,101,101,96,82,82,109,109,102,95"
                       "\nWINDOW_SIZE=0,0,500,800\n\n";

// Three quarters packet filters, the rest dynamic filters.
std::string programFile(size_t bytes) {
    std::string text = kCommon;
    for (int n = 1; text.size() < bytes * 3 / 4; ++n)
        text += packetSection(n);
    for (int n = 1; text.size() < bytes; ++n)
        text += dynamicSection(n);
    return text;
}

std::string toCp932WithCrLf(const std::string& utf8) {
    iconv_t cd = ::iconv_open("CP932", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        die("iconv_open");
    std::string crlf;
    crlf.reserve(utf8.size() * 11 / 10);
    for (char c : utf8) {
        if (c == '\n')
            crlf.push_back('\r');
        crlf.push_back(c);
    }
    std::string out(crlf.size(), '\0');
    char* in = crlf.data();
    size_t inLeft = crlf.size();
    char* to = out.data();
    size_t outLeft = out.size();
    if (::iconv(cd, &in, &inLeft, &to, &outLeft) == static_cast<size_t>(-1))
        die("iconv");
    ::iconv_close(cd);
    out.resize(out.size() - outLeft);
    return out;
}

std::string mixedFile(size_t bytes) {
    std::string text = programFile(bytes);
    const size_t at = text.find("COMMENT=") + 8;
    text.insert(at, "caf\xE9 ");
    return text;
}

std::string smallFile(size_t bytes) {
    std::string text = kCommon;
    for (int n = 1; text.size() < bytes; ++n)
        text += "[PacketFilter" + std::to_string(n) + "]\nFILTER_NAME=f" + std::to_string(n) + "\n";
    return text;
}

std::string longFile(size_t bytes) {
    std::string text = kCommon;
    for (int n = 1; text.size() < bytes; ++n) {
        text += "[PacketFilter" + std::to_string(n) + "]\nOTHER_PORT=";
        for (int p = 0; p < 20000; ++p)
            text += std::to_string(1000 + p % 60000) + ",";
        text += "\nCOMMENT=" + std::string(100000, 'c') + "\n";
    }
    return text;
}

void writeFile(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0)
        die("open");
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            die("write");
        done += static_cast<size_t>(n);
    }
    ::close(fd);
}

struct Measure {
    double ms;
    double peakMb;
};

// Reads the file and copies every line into a string of its own.
size_t lineSplit(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        die("open");
    std::string bytes;
    char chunk[65536];
    for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;)
        bytes.append(chunk, static_cast<size_t>(n));
    ::close(fd);
    std::vector<std::string> lines;
    for (size_t at = 0; at < bytes.size();) {
        size_t end = bytes.find('\n', at);
        if (end == std::string::npos)
            end = bytes.size();
        lines.emplace_back(bytes, at, end - at);
        at = end + 1;
    }
    return lines.size();
}

size_t readSettings(const std::string& path) {
    tavrin::settings::PosixFileSystem fs;
    tavrin::settings::FilePrivateProfile profile(fs);
    static tavrin::AdapterList adapters(std::make_unique<NoAdapters>());
    QuietMessages messages;
    tavrin::settings::IniFileReader reader(profile, adapters, messages);
    tavrin::settings::IniFileObject model;
    if (!reader.ReadIniFile(model, path)) {
        std::fprintf(stderr, "settings_bench: %s was not read\n", path.c_str());
        std::exit(1);
    }
    return static_cast<size_t>(model.PacketFilterCount() + model.DynamicFilterCount());
}

template <class Work> Measure measure(int runs, Work work) {
    // A first run puts the file in the page cache and the heap at its size.
    work();
    std::vector<double> times;
    double peak = 0;
    for (int r = 0; r < runs; ++r) {
        const size_t before = g_live.load();
        g_peak.store(before);
        const auto start = Clock::now();
        volatile size_t sink = work();
        (void)sink;
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        peak = std::max(peak, static_cast<double>(g_peak.load() - before) / (1024.0 * 1024.0));
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], peak};
}

} // namespace

int main(int argc, char** argv) {
    struct Shape {
        const char* name;
        std::string (*make)(size_t);
    };
    const Shape shapes[] = {
        {"program", programFile},
        {"cp932", [](size_t b) { return toCp932WithCrLf(programFile(b)); }},
        {"mixed", mixedFile},
        {"small", smallFile},
        {"long", longFile},
    };
    std::vector<size_t> sizes;
    std::vector<const Shape*> chosen;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto named = std::find_if(std::begin(shapes), std::end(shapes),
                                        [&](const Shape& s) { return arg == s.name; });
        if (named != std::end(shapes)) {
            chosen.push_back(named);
            continue;
        }
        char* end = nullptr;
        const unsigned long mb = std::strtoul(argv[i], &end, 10);
        if (*end != '\0' || mb == 0 || mb > 60) {
            std::fprintf(stderr, "usage: settings_bench [MB ...] [SHAPE ...] with 1 <= MB <= 60 "
                                 "and SHAPE one of program cp932 mixed small long\n");
            return 2;
        }
        sizes.push_back(mb);
    }
    if (sizes.empty())
        sizes = {6, 60};
    if (chosen.empty())
        for (const Shape& shape : shapes)
            chosen.push_back(&shape);

    // Freed memory stays with the process, so that no run pays for page faults that
    // another did not: both sides are timed on the same warm heap.
    ::mallopt(M_MMAP_THRESHOLD, 1 << 30);
    ::mallopt(M_TRIM_THRESHOLD, 1 << 30);

    char dir[] = "/tmp/settings-bench-XXXXXX";
    if (::mkdtemp(dir) == nullptr)
        die("mkdtemp");
    const std::string path = std::string(dir) + "/Setting.ini";

    std::printf("median of runs (5 up to 10 MB, else 3); peak = heap held at the highest\n");
    std::printf("%4s %-7s %9s %10s %10s %8s %10s %10s %8s\n", "MB", "shape", "file MB", "split ms",
                "read ms", "x split", "split MB", "read MB", "x split");
    for (size_t mb : sizes) {
        const int runs = mb <= 10 ? 5 : 3;
        for (const Shape* shape : chosen) {
            {
                const std::string bytes = shape->make(mb * 1000 * 1000);
                writeFile(path, bytes);
            }
            const Measure split = measure(runs, [&] { return lineSplit(path); });
            const Measure read = measure(runs, [&] { return readSettings(path); });
            std::FILE* f = std::fopen(path.c_str(), "rb");
            std::fseek(f, 0, SEEK_END);
            const double fileMb = static_cast<double>(std::ftell(f)) / (1000.0 * 1000.0);
            std::fclose(f);
            std::printf("%4zu %-7s %9.1f %10.1f %10.1f %8.2f %10.1f %10.1f %8.2f\n", mb,
                        shape->name, fileMb, split.ms, read.ms, read.ms / split.ms, split.peakMb,
                        read.peakMb, read.peakMb / split.peakMb);
            std::fflush(stdout);
        }
    }
    ::unlink(path.c_str());
    ::rmdir(dir);
    return 0;
}
