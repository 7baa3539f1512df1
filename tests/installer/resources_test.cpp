// The installer's compiled resources, read back from the built program.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <initializer_list>
#include <string>

#include "test_registry.h"

namespace orvex::test {
namespace {

class Resources : public ::testing::Test {
 protected:
  void SetUp() override {
    program_ = ::LoadLibraryExA(TestFilePath("..\\OrvexInstaller.exe").c_str(), nullptr,
                                LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(program_, nullptr) << "OrvexInstaller.exe not found next to the tests";
  }
  void TearDown() override {
    if (program_ != nullptr) ::FreeLibrary(program_);
  }
  // The resource's bytes, or an empty string.
  std::string Resource(LPCSTR type, int id, WORD language) const {
    HRSRC found = ::FindResourceExA(program_, type, MAKEINTRESOURCEA(id), language);
    if (found == nullptr) return {};
    const void* data = ::LockResource(::LoadResource(program_, found));
    return std::string(static_cast<const char*>(data), ::SizeofResource(program_, found));
  }

  HMODULE program_ = nullptr;
};

// Reads a plain dialog template field by field.
class TemplateReader {
 public:
  explicit TemplateReader(const std::string& data) : data_(data) {}
  WORD Word() {
    WORD value = 0;
    if (offset_ + 2 <= data_.size()) std::memcpy(&value, data_.data() + offset_, 2);
    offset_ += 2;
    return value;
  }
  DWORD Dword() {
    const DWORD low = Word();
    return low | (static_cast<DWORD>(Word()) << 16);
  }
  // A string field: 0xFFFF + ordinal gives "#<ordinal>", else UTF-16 up to its NUL.
  std::string Text() {
    WORD first = Word();
    if (first == 0xFFFF) return "#" + std::to_string(Word());
    std::string text;
    for (; first != 0; first = Word()) text += static_cast<char>(first);
    return text;
  }
  void AlignDword() { offset_ = (offset_ + 3) & ~static_cast<size_t>(3); }
  size_t Offset() const { return offset_; }

 private:
  const std::string& data_;
  size_t offset_ = 0;
};

TEST_F(Resources, ProgressDialogTemplateIsExactlyAsLaidOut) {
  const std::string data = Resource(MAKEINTRESOURCEA(5), 103, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  ASSERT_FALSE(data.empty()) << "no dialog 103 in US English";
  TemplateReader t(data);
  EXPECT_EQ(t.Dword(), 0x90C008C0u) << "style";
  EXPECT_EQ(t.Dword(), 0u) << "extended style (a plain template)";
  // Control count, x, y, cx, cy; no menu, class or title; point size and face.
  for (const WORD expected : std::initializer_list<WORD>{8, 0, 0, 230, 215}) EXPECT_EQ(t.Word(), expected);
  for (int field = 0; field < 3; ++field) EXPECT_EQ(t.Text(), "") << "menu, class, title: " << field;
  EXPECT_EQ(t.Word(), 8u);
  EXPECT_EQ(t.Text(), "MS Sans Serif");

  const struct {
    DWORD style;
    short x, y, cx, cy;
    WORD id;
    const char* windowClass;
    const char* text;
  } controls[] = {
      {0x50A10804, 10, 90, 210, 40, 208, "#129", ""},
      {0x50010000, 89, 199, 50, 14, 2, "#128", "Cancel"},
      {0x50800001, 10, 170, 210, 6, 201, "msctls_progress32", "Progress1"},
      {0x50020001, 10, 180, 210, 10, 203, "#130", ""},
      {0x50020000, 10, 151, 210, 17, 204, "#130", ""},
      {0x50000007, 5, 140, 220, 55, 0xFFFF, "#128", "Download Status"},
      {0x50000007, 5, 80, 220, 55, 206, "#128", ""},
      {0x50020000, 5, 55, 220, 20, 205, "#130", ""},
  };
  for (const auto& c : controls) {
    SCOPED_TRACE("control " + std::to_string(c.id));
    t.AlignDword();
    EXPECT_EQ(t.Dword(), c.style) << "style";
    EXPECT_EQ(t.Dword(), 0u) << "extended style";
    for (const short expected : {c.x, c.y, c.cx, c.cy}) EXPECT_EQ(static_cast<short>(t.Word()), expected);
    EXPECT_EQ(t.Word(), c.id);
    EXPECT_EQ(t.Text(), c.windowClass);
    EXPECT_EQ(t.Text(), c.text);
    EXPECT_EQ(t.Word(), 0u) << "creation data";
  }
  EXPECT_EQ(t.Offset(), data.size()) << "nothing after the eighth control";
}

TEST_F(Resources, BannerIsA16ColourBottomUpBitmap) {
  const std::string data = Resource(MAKEINTRESOURCEA(2), 203, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  ASSERT_GE(data.size(), sizeof(BITMAPINFOHEADER));
  BITMAPINFOHEADER header;
  std::memcpy(&header, data.data(), sizeof(header));
  EXPECT_EQ(header.biSize, 40u);
  EXPECT_EQ(header.biWidth, 345);
  EXPECT_EQ(header.biHeight, 82) << "positive: rows stored bottom-up";
  EXPECT_EQ(header.biPlanes, 1);
  EXPECT_EQ(header.biBitCount, 4);
  EXPECT_EQ(header.biCompression, static_cast<DWORD>(BI_RGB));
  EXPECT_EQ(header.biXPelsPerMeter, 3779);
  EXPECT_EQ(header.biYPelsPerMeter, 3779);
  EXPECT_TRUE(header.biClrUsed == 0 || header.biClrUsed == 16);
  const size_t stride = ((345 * 4 + 31) / 32) * 4;
  EXPECT_EQ(data.size(), 40 + 16 * 4 + stride * 82) << "header, 16-entry colour table and pixels";
}

}  // namespace
}  // namespace orvex::test
