#include "compiler/backend/subject_text_encoder.h"

#include <gtest/gtest.h>

#include <map>

namespace fvx::compiler {
namespace {

std::string Le32(uint32_t v) {
  std::string out;
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
  return out;
}
std::string Be32(uint32_t v) {
  std::string out;
  for (int i = 3; i >= 0; --i) out.push_back(static_cast<char>(v >> (8 * i)));
  return out;
}
std::string Recorded(uint8_t code, const std::string& payload) {
  return "\xFF" + Le32(static_cast<uint32_t>(payload.size())) + static_cast<char>(code) + payload;
}
std::string Stored(uint8_t code, const std::string& payload) {
  return "\xFF" + Be32(static_cast<uint32_t>(payload.size())) + static_cast<char>(code) + payload;
}

class FakeResolver : public ElementResolver {
 public:
  bool ResolveLink(uint32_t record, ResolvedLink* link) override {
    asked.push_back(record);
    if (fail) return false;
    auto it = links.find(record);
    if (it != links.end()) *link = it->second;
    return true;
  }
  uint32_t PictureIndex(uint32_t record) override {
    auto it = pictures.find(record);
    return it == pictures.end() ? kNoPicture : it->second;
  }
  std::map<uint32_t, ResolvedLink> links;
  std::map<uint32_t, uint32_t> pictures;
  std::vector<uint32_t> asked;
  bool fail = false;
};

std::string Encode(FakeResolver& resolver, const std::string& recorded, bool* ok = nullptr) {
  std::string stored;
  const bool done = EncodeSubjectText(reinterpret_cast<const uint8_t*>(recorded.data()),
                                      recorded.size(), resolver, &stored);
  if (ok) *ok = done;
  else EXPECT_TRUE(done);
  return stored;
}

TEST(SubjectTextEncoderTest, CharactersAndTheSourceByte0xFF) {
  FakeResolver resolver;
  EXPECT_EQ(Encode(resolver, "plain \xE9 text"), "plain \xE9 text");
  // A source character 0xFF is recorded as element 255 and stored as
  // 0xFF, 0x00 0x00 0x00 0x00, 0xFF.
  EXPECT_EQ(Encode(resolver, "a" + Recorded(255, "") + "b"),
            std::string("a\xFF\x00\x00\x00\x00\xFF" "b", 8));
}

TEST(SubjectTextEncoderTest, LinksResolveAndUnresolvedOnesCloseAsCode3) {
  FakeResolver resolver;
  resolver.links[7] = {true, 0x01020304, 0x99};
  const std::string pair = std::string("target\0x\0", 9);
  const std::string recorded = Recorded(1, Le32(7) + Le32(0)) + "go" + Recorded(2, "") + " " +
                               Recorded(1, Le32(8) + Le32(0) + pair) + "nowhere" +
                               Recorded(2, "");
  const std::string stored = Encode(resolver, recorded);
  EXPECT_EQ(stored, Stored(1, Be32(0x01020304) + Be32(0x99)) + "go" + Stored(2, "") + " " +
                        Stored(3, std::string(8, '\0') + pair) + "nowhere" + Stored(3, ""));
  EXPECT_EQ(stored.size(), recorded.size());  // anchor positions stay valid
  EXPECT_EQ(resolver.asked, (std::vector<uint32_t>{7, 8}));
}

TEST(SubjectTextEncoderTest, NestedLinksCloseInOrder) {
  FakeResolver resolver;
  resolver.links[1] = {true, 5, 0};
  const std::string recorded = Recorded(1, Le32(1) + Le32(0)) + Recorded(1, Le32(2) + Le32(0)) +
                               Recorded(2, "") + Recorded(2, "") + Recorded(2, "");
  EXPECT_EQ(Encode(resolver, recorded), Stored(1, Be32(5) + Be32(0)) + Stored(3, std::string(8, '\0')) +
                                            Stored(3, "") + Stored(2, "") + Stored(2, ""));
}

TEST(SubjectTextEncoderTest, FixedFieldsTurnBigEndianAndTheRestIsCopied) {
  FakeResolver resolver;
  resolver.pictures[4] = 2;
  struct Case {
    uint8_t code;
    std::string recorded;
    std::string stored;
  };
  const std::string alt = std::string("Alt text\0", 9);
  const Case cases[] = {
      {15, "d", "d"},
      {17, "A" + Le32(3), "A" + Be32(3)},
      {19, std::string("\x00", 1), std::string("\x00", 1)},
      {19, "\x01" + Le32(9), "\x01" + Be32(9)},
      {19, "\x02i", "\x02i"},
      {19, "\x03" + Le32(9) + "I", "\x03" + Be32(9) + "I"},
      {20, Le32(0xF0000003) + Le32(0xFF0000) + std::string("Serif\0", 6) + std::string("k\0v\0", 4),
       Be32(0xF0000003) + Be32(0xFF0000) + std::string("Serif\0", 6) + std::string("k\0v\0", 4)},
      {22, Le32(4) + Le32(10) + Le32(20) + Le32(1) + Le32(2) + alt,
       Be32(2) + Be32(10) + Be32(20) + Be32(1) + Be32(2) + alt},
      {22, Le32(5) + Le32(10) + Le32(20) + Le32(1) + Le32(2) + alt,
       Be32(kNoPicture) + Be32(10) + Be32(20) + Be32(1) + Be32(2) + alt},
      {31, Le32(0x263A), Be32(0x263A)},
      {34, std::string("http://x.org/\0", 14), std::string("http://x.org/\0", 14)},
      {23, std::string("blink\0", 6), std::string("blink\0", 6)},
      {12, std::string("align\0left\0", 11), std::string("align\0left\0", 11)},
      {35, std::string("Kind = a\0", 9), std::string("Kind = a\0", 9)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.code));
    EXPECT_EQ(Encode(resolver, "<" + Recorded(c.code, c.recorded) + ">"),
              "<" + Stored(c.code, c.stored) + ">");
  }
}

TEST(SubjectTextEncoderTest, ShortPayloadsConvertWhatFits) {
  FakeResolver resolver;
  // A font element cut after its size: the size converts, the rest is copied.
  EXPECT_EQ(Encode(resolver, Recorded(20, Le32(5) + "ab")), Stored(20, Be32(5) + "ab"));
  EXPECT_EQ(Encode(resolver, Recorded(1, "ab")), Stored(3, std::string("\0\0", 2)));
  EXPECT_TRUE(resolver.asked.empty());
}

TEST(SubjectTextEncoderTest, ALinkEndKeepsNothingAndTheLengthStays) {
  FakeResolver resolver;
  const std::string recorded = Recorded(2, "xy") + "z";
  const std::string stored = Encode(resolver, recorded);
  EXPECT_EQ(stored, Stored(2, "") + "xyz");
  EXPECT_EQ(stored.size(), recorded.size());
}

TEST(SubjectTextEncoderTest, CutElementsAndFailedLookupsFail) {
  FakeResolver resolver;
  bool ok = true;
  Encode(resolver, std::string("ab\xFF\x01\x00", 5), &ok);
  EXPECT_FALSE(ok);
  Encode(resolver, "ab" + Recorded(23, "name").substr(0, 8), &ok);
  EXPECT_FALSE(ok);
  Encode(resolver, "\xFF" + Le32(0xFFFFFFF0) + "\x17" + "abc", &ok);
  EXPECT_FALSE(ok);
  resolver.fail = true;
  Encode(resolver, Recorded(1, Le32(1) + Le32(0)), &ok);
  EXPECT_FALSE(ok);
}

}  // namespace
}  // namespace fvx::compiler
