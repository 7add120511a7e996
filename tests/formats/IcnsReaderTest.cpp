#include "vantelkit/formats/IcnsReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/IcnsBuilder.h"

namespace vantelkit {
namespace {

using testing::bigEndian32;
using testing::icnsFile;
using testing::pngPayload;

std::vector<std::uint32_t> widths(const IcnsFile& file) {
  std::vector<std::uint32_t> out;
  for (const auto& r : file.pngRepresentations) out.push_back(r.pixelsWide);
  return out;
}

TEST(IcnsReaderTest, ListsEntriesAndPngRepresentationsInFileOrder) {
  const std::string bytes = icnsFile({{"ic12", pngPayload(64, 64)},
                                      {"ic07", pngPayload(128, 128)},
                                      {"ic04", "ARGB\x01\x02"},
                                      {"info", "bplist00"},
                                      {"icp4", pngPayload(16, 20)},
                                      {"ic08", pngPayload(128, 96)},
                                      {"ic09", ""}});
  ErrorPtr error;
  auto file = readIcns(bytes, &error);
  ASSERT_TRUE(file) << error->qualifiedDescription();
  ASSERT_EQ(file->entries.size(), 7u);
  EXPECT_EQ(file->entries[2], (IcnsEntry{"ic04", 8 + 2 * (8 + 37) + 8, 6}));
  EXPECT_EQ(file->entries.back().length, 0u);
  EXPECT_EQ(widths(*file), (std::vector<std::uint32_t>{64, 128, 16, 128}));
  EXPECT_EQ(file->pngRepresentations[2].pixelsHigh, 20u);
  EXPECT_EQ(file->pngRepresentations[2].type, "icp4");
  EXPECT_EQ(std::string(file->pngRepresentations[1].data.begin(), file->pngRepresentations[1].data.end()),
            pngPayload(128, 128));
}

TEST(IcnsReaderTest, SkipsPayloadsThatOnlyLookLikePng) {
  std::string noHeader = pngPayload(32, 32).substr(0, 20);
  std::string zeroWidth = pngPayload(0, 32);
  std::string hugeWidth = pngPayload(0x80000000u, 32);
  std::string wrongChunk = pngPayload(32, 32);
  wrongChunk.replace(12, 4, "IDAT");
  auto file = readIcns(icnsFile({{"ic11", noHeader}, {"ic11", zeroWidth}, {"ic11", hugeWidth}, {"ic11", wrongChunk}}));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->entries.size(), 4u);
  EXPECT_TRUE(file->pngRepresentations.empty());
}

TEST(IcnsReaderTest, RejectsMalformedFiles) {
  const std::string good = icnsFile({{"ic07", pngPayload(128, 128)}, {"ic11", pngPayload(32, 32)}});
  struct Case {
    std::string bytes;
    IcnsError::Code code;
  };
  std::string shortEntry = good;
  shortEntry.replace(8 + 4, 4, bigEndian32(7));
  std::string overlong = good;
  overlong.replace(8 + 4, 4, bigEndian32(0xFFFFFFF0u));
  std::string partialHeader = "icns" + bigEndian32(12) + "ic07";
  const Case cases[] = {
      {"", IcnsError::Code::notIcns},
      {"icns", IcnsError::Code::notIcns},
      {"ICNS" + good.substr(4), IcnsError::Code::notIcns},
      {"icns" + bigEndian32(7), IcnsError::Code::notIcns},
      {good.substr(0, good.size() - 1), IcnsError::Code::truncated},
      {shortEntry, IcnsError::Code::invalidEntryLength},
      {overlong, IcnsError::Code::truncated},
      {partialHeader, IcnsError::Code::truncated},
  };
  for (const auto& c : cases) {
    ErrorPtr error;
    EXPECT_FALSE(readIcns(c.bytes, &error).has_value());
    const auto* icnsError = errorAs<IcnsError>(error);
    ASSERT_NE(icnsError, nullptr);
    EXPECT_EQ(icnsError->code(), c.code) << icnsError->description() << " at " << icnsError->offset();
  }
  // The empty file of just a header is valid; bytes past the stated length are ignored.
  EXPECT_TRUE(readIcns("icns" + bigEndian32(8))->entries.empty());
  EXPECT_EQ(readIcns(good + "trailing garbage")->entries.size(), 2u);
}

TEST(IcnsReaderTest, ReadsRealIconFiles) {
  const std::filesystem::path folder = std::filesystem::path(VANTEL_SAMPLES_DIR) / "icns";
  if (!std::filesystem::exists(folder)) GTEST_SKIP() << "no samples";
  auto read = [&](const char* name) {
    std::ifstream in(folder / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  auto alacritty = readIcns(read("alacritty.icns"));
  ASSERT_TRUE(alacritty);
  EXPECT_EQ(alacritty->entries.size(), 11u);
  EXPECT_EQ(widths(*alacritty), (std::vector<std::uint32_t>{64, 128, 256, 256, 512, 512, 1024, 32}));
  auto find = readIcns(read("quicksilver_Find.icns"));
  ASSERT_TRUE(find);
  EXPECT_EQ(find->entries.front().type, "info");
  EXPECT_EQ(widths(*find), (std::vector<std::uint32_t>{64, 32, 128}));
  for (const char* classic : {"quicksilver_Catalog.icns", "quicksilver_UKDistributedView_MediDoc.icns"}) {
    auto file = readIcns(read(classic));
    ASSERT_TRUE(file) << classic;
    EXPECT_FALSE(file->entries.empty());
    EXPECT_TRUE(file->pngRepresentations.empty()) << classic;
  }
}

}  // namespace
}  // namespace vantelkit
