// Fills a settings model from a settings file: the common options, then packet
// and dynamic filter sections taken in numbering order.
#pragma once

#include "AdapterList.h"
#include "IniFileObject.h"
#include "Messages.h"
#include "PrivateProfile.h"

#include <string>

namespace tavrin::settings {

inline constexpr char kMessageSectionBufferTooSmall[] =
    "IniReader::ReadIniFile:セクション用バッファが足りません";
inline constexpr char kMessageDataBufferTooSmall[] =
    "IniReader::ReadIniFile:データ用バッファが足りません";
inline constexpr char kCaptionConfirm[] = "確認";
inline constexpr char kMessageInvalidDirectionPrefix[] = "無効な方向です：";
// A rule holds 16 port ranges; a hand-edited file may list more.
inline constexpr char kMessageTooManyPortsFormat[] =
    "ポートの範囲が16個を超えています。フィルタ「%s」は最初の16個だけを読み込みました。";

// A name or comment longer than a filter holds (a hand-edited file): the first part
// is kept, never cut inside a character.
inline constexpr char kMessageNameCutFormat[] =
    "フィルタ名が半角100文字（全角50文字）を超えています。"
    "フィルタ「%s」は名前の最初の半角100文字分だけを読み込みました。";
inline constexpr char kMessageCommentCutFormat[] =
    "コメントが半角127文字（全角63文字）を超えています。"
    "フィルタ「%s」はコメントの最初の半角127文字分だけを読み込みました。";

// The buffers start at the sizes the file format was designed for and grow, so that
// every file this program writes reads back whole; only past these sizes does a
// read fail with the buffer messages.
inline constexpr size_t kSectionNamesBufferSize = 4096;
inline constexpr size_t kSectionDataBufferSize = 16388;
inline constexpr size_t kMaxBufferSize = 64 * 1024 * 1024;

class IniFileReader final {
public:
    IniFileReader(PrivateProfile& profile, const AdapterList& adapters, Messages& messages)
        : m_profile(profile), m_adapters(adapters), m_messages(messages) {}

    // False without a message when the file is missing or has no section; false
    // after the buffer message when a buffer cannot hold the file, with what was read
    // before kept in the model. A file that had to be read line by line is named in
    // kMessageMixedEncodingFormat first.
    bool ReadIniFile(IniFileObject& model, const std::string& file);

private:
    PrivateProfile& m_profile;
    const AdapterList& m_adapters;
    Messages& m_messages;
};

} // namespace tavrin::settings
