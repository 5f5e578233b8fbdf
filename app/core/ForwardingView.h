// A CoreView that hands every call on to another one set later. The core needs
// its view when it is built, but the window that shows it can only be made once
// the core has brought the drivers up and read the settings.
#pragma once

#include "CoreView.h"

namespace tavrin::core {

class ForwardingView final : public CoreView {
public:
    ForwardingView() = default;
    explicit ForwardingView(CoreView* target) : m_target(target) {}

    void setTarget(CoreView* target) { m_target = target; }
    CoreView* target() const { return m_target; }

    void sessionTimers(bool running, std::chrono::milliseconds period) override {
        if (m_target)
            m_target->sessionTimers(running, period);
    }
    void setPaneText(int pane, const std::string& text) override {
        if (m_target)
            m_target->setPaneText(pane, text);
    }
    void endProgram() override {
        if (m_target)
            m_target->endProgram();
    }
    void filteringChanged(bool filtering) override {
        if (m_target)
            m_target->filteringChanged(filtering);
    }
    void rulesReloaded() override {
        if (m_target)
            m_target->rulesReloaded();
    }
    void packetCaptured(const ovlank::CaptureEntry& entry, bool noRedraw) override {
        if (m_target)
            m_target->packetCaptured(entry, noRedraw);
    }
    void redrawPacketList() override {
        if (m_target)
            m_target->redrawPacketList();
    }
    void refreshConnectionPage() override {
        if (m_target)
            m_target->refreshConnectionPage();
    }
    void refreshFilterBandwidth(const std::vector<int32_t>& overriddenRules) override {
        if (m_target)
            m_target->refreshFilterBandwidth(overriddenRules);
    }
    void bandwidthRecorded() override {
        if (m_target)
            m_target->bandwidthRecorded();
    }
    void programEnding() override {
        if (m_target)
            m_target->programEnding();
    }
    void setStatusText(const std::string& text) override {
        if (m_target)
            m_target->setStatusText(text);
    }

private:
    CoreView* m_target = nullptr;
};

} // namespace tavrin::core
