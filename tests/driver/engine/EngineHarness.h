// An engine with a recording registrar, driven through dispatch() with real request
// bytes and decidePacket() with real packets. Every request is checked for writing
// nothing beyond the bytes it reports.
#pragma once

#include "Engine.h"
#include "PacketBuilder.h"
#include "RequestBytes.h"

#include <gtest/gtest.h>

#include <memory_resource>
#include <optional>
#include <string>
#include <vector>

namespace ovlank::test {

// Records the engine's calls; registration answers with a chosen status.
class RecordingRegistrar final : public HookRegistrar {
public:
    NtStatus registerHook() override {
        calls.push_back("register");
        return registerStatus;
    }
    void unregisterHook() override { calls.push_back("unregister"); }

    std::vector<std::string> calls;
    NtStatus registerStatus = STATUS_SUCCESS;
};

struct Reply {
    NtStatus status = 0;
    Bytes output; // the first `information` bytes of the buffer
};

// One captured packet as GET_PACKET returned it.
struct Capture {
    int32_t ruleIndex = 0;
    uint32_t length = 0;
    Bytes captured; // `length` bytes: 20 header bytes, then the transport bytes
};

class EngineHarness {
public:
    EngineHarness() : engine(registrar) {}
    explicit EngineHarness(std::pmr::memory_resource& memory) : engine(registrar, memory) {}

    static constexpr uint8_t kUntouched = 0xEE;

    Reply request(uint32_t code, const Bytes& input = {}, size_t outputSize = 0) {
        Bytes buffer(outputSize, kUntouched);
        const RequestResult result = engine.dispatch(code, input, buffer);
        EXPECT_LE(result.information, outputSize) << std::hex << code;
        if (!ntSuccess(result.status)) {
            EXPECT_EQ(result.information, 0u) << std::hex << code;
        }
        const size_t used = std::min<size_t>(result.information, outputSize);
        for (size_t i = used; i < buffer.size(); ++i) {
            EXPECT_EQ(buffer[i], kUntouched) << "byte " << i << " written past the reply";
        }
        buffer.resize(used);
        return {result.status, buffer};
    }

    NtStatus status(uint32_t code, const Bytes& input = {}, size_t outputSize = 0) {
        return request(code, input, outputSize).status;
    }

    NtStatus add(const RuleBuilder& rule) { return status(ADD_FILTER, rule.bytes()); }
    NtStatus change(uint32_t index, const RuleBuilder& rule) {
        return status(CHANGE_FILTER, changeFilterBytes(index, rule.build()));
    }
    NtStatus setPorts(uint16_t index, uint16_t selector, const std::vector<uint16_t>& ports) {
        return status(SET_PORTS, portListBytes(index, selector, ports));
    }
    NtStatus setLocal(const std::vector<uint32_t>& addresses) {
        return status(SET_LOCALIP, localAddressBytes(addresses));
    }
    void filtering(bool on) {
        ASSERT_EQ(status(on ? START_FILTERING : STOP_FILTERING), STATUS_SUCCESS);
    }

    Verdict send(const PacketBuilder& packet) { return engine.decidePacket(packet.build()); }

    std::optional<Capture> nextCapture() {
        const Reply reply = request(GET_PACKET, {}, sizeof(CaptureEntry));
        EXPECT_EQ(reply.status, STATUS_SUCCESS);
        if (reply.output.empty())
            return std::nullopt;
        Capture capture;
        capture.ruleIndex = static_cast<int32_t>(readLittle32(reply.output, 0));
        capture.length = readLittle32(reply.output, 4);
        EXPECT_EQ(reply.output.size(), 8u + capture.length);
        capture.captured.assign(reply.output.begin() + 8, reply.output.end());
        return capture;
    }

    // Rule indexes of every unread capture, oldest first.
    std::vector<int32_t> drainIndexes() {
        std::vector<int32_t> indexes;
        while (auto capture = nextCapture())
            indexes.push_back(capture->ruleIndex);
        return indexes;
    }

    // CLEAR_BANDWIDTH with room for every rule: per-rule counts, then sent, received.
    std::vector<uint32_t> bandwidth() {
        const Reply reply = request(CLEAR_BANDWIDTH, {}, sizeof(BandwidthReply));
        EXPECT_EQ(reply.status, STATUS_SUCCESS);
        std::vector<uint32_t> values;
        for (size_t at = 0; at + 4 <= reply.output.size(); at += 4)
            values.push_back(readLittle32(reply.output, at));
        return values;
    }

    RecordingRegistrar registrar;
    Engine engine;
};

// The first rule index that captured the packet, after sending it alone.
inline int32_t matchIndex(EngineHarness& h, const PacketBuilder& packet) {
    h.drainIndexes();
    h.send(packet);
    const auto indexes = h.drainIndexes();
    return indexes.size() == 1 ? indexes[0] : -2; // -2: not recorded exactly once
}

} // namespace ovlank::test
