// A client's new texts, bounded before libindi sees them. libindi 1.9's
// driver output (indidriverio.c) sends a message that grows past 64 KiB in
// the middle of writing it, frees its buffer without forgetting it, and
// writes the rest of the message into the freed memory: a driver that
// echoes a long text (INDI::CCD echoes every text it takes) corrupts its
// heap and dies. The driver's own texts and INDI's (device names, a folder,
// a prefix, an observer) are short, so a text longer than kMaxTextBytes is
// refused whole.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tarnscsi::indi {

// Bytes a text may take as INDI writes it: a folder path of the longest
// Linux allows. The five texts of ACTIVE_DEVICES, the largest property a
// client sets, stay far below the 64 KiB at which libindi fails.
inline constexpr std::size_t kMaxTextBytes = 4096;

// The bytes `text` takes in INDI's XML, each of & ' " < > as its entity.
std::size_t XmlSize(std::string_view text);

// "" when every text of the message is within kMaxTextBytes; else which
// element is too long, and by how much.
std::string TextMessageProblem(char* const texts[], char* const names[], int n);

// A name a client sent, cut for a message: a hostile client may send any
// length.
std::string ShownName(const char* name);

}  // namespace tarnscsi::indi
