#include <gtest/gtest.h>

#include "paste/png_encoder.h"
#include "tests/paste/paste_test_support.h"

namespace {

std::string ReadAll(const std::wstring& path) {
  HANDLE file =
      CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string bytes(1 << 16, '\0');
  DWORD read = 0;
  ReadFile(file, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr);
  CloseHandle(file);
  bytes.resize(read);
  return bytes;
}

bool WriteAll(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(file);
  return written == bytes.size();
}

// Writes the pattern at the given size and checks what WIC reads back. The files stay in
// paste-png/ for check_png.py, which decodes them without WIC.
void EncodeAndCheckPattern(int width, int height) {
  std::wstring dir = BuildFolder() + L"paste-png";
  CreateDirectoryW(dir.c_str(), nullptr);
  std::wstring path =
      dir + L"\\pattern_" + std::to_wstring(width) + L"x" + std::to_wstring(height) + L".png";
  DeleteFileW(path.c_str());
  Image image = PatternImage(width, height);
  HBITMAP bitmap = CreateDibSection(image);
  ASSERT_NE(bitmap, nullptr);
  EXPECT_TRUE(EncodePngFile(bitmap, path));
  DeleteObject(bitmap);

  Image decoded = DecodePngWithWic(path);
  ASSERT_EQ(decoded.width, width);
  ASSERT_EQ(decoded.height, height);
  size_t mismatches = 0;
  for (size_t i = 0; i < decoded.pixels.size(); ++i) {
    // Every pixel opaque, colour bytes as the bitmap holds them, whatever its alpha was.
    if (decoded.pixels[i] != (image.pixels[i] | 0xFF000000u)) ++mismatches;
  }
  EXPECT_EQ(mismatches, 0u) << "of " << decoded.pixels.size() << " pixels";
}

}  // namespace

TEST(PngEncoder, TransparentPixelsAreWrittenOpaqueWithTheirColours) {
  EncodeAndCheckPattern(37, 23);
  EncodeAndCheckPattern(640, 480);
}

TEST(PngEncoder, NullBitmapGivesFalseAndNoFile) {
  std::wstring dir = MakeCleanFolder(L"paste-encoder");
  EXPECT_FALSE(EncodePngFile(nullptr, dir + L"\\null.png"));
  EXPECT_TRUE(FilesIn(dir, L"*").empty());
}

TEST(PngEncoder, AnExistingFileOfThatNameIsNeverReplaced) {
  std::wstring dir = MakeCleanFolder(L"paste-encoder");
  std::wstring path = dir + L"\\taken.png";
  ASSERT_TRUE(WriteAll(path, "someone else's file"));
  HBITMAP bitmap = CreateDibSection(PatternImage(8, 8));
  EXPECT_FALSE(EncodePngFile(bitmap, path));
  DeleteObject(bitmap);
  EXPECT_EQ(ReadAll(path), "someone else's file");
  DeleteFileW(path.c_str());
}

TEST(PngEncoder, UnwritableFolderGivesFalseAndLeavesNoFile) {
  std::wstring dir = MakeCleanFolder(L"paste-encoder");
  std::wstring blocker = dir + L"\\blocker.txt";
  ASSERT_TRUE(WriteAll(blocker, "a file, not a folder"));
  HBITMAP bitmap = CreateDibSection(PatternImage(8, 8));

  // A "folder" that is a file, and one that does not exist.
  EXPECT_FALSE(EncodePngFile(bitmap, blocker + L"\\shot.png"));
  EXPECT_FALSE(EncodePngFile(bitmap, dir + L"\\missing\\shot.png"));
  EXPECT_EQ(FilesIn(dir, L"*"), std::vector<std::wstring>{L"blocker.txt"});
  EXPECT_FALSE(FileExists(dir + L"\\missing"));

  // A folder the file system refuses writes to (set immutable by the test fixture, since
  // the tests run as root and Wine ignores the read-only attribute on folders).
  std::wstring locked = BuildFolder() + L"paste-locked";
  std::wstring probe = locked + L"\\probe";
  bool lockedForReal = FileExists(locked) && !WriteAll(probe, "x");
  DeleteFileW(probe.c_str());
  if (lockedForReal) {
    EXPECT_FALSE(EncodePngFile(bitmap, locked + L"\\shot.png"));
    EXPECT_TRUE(FilesIn(locked, L"*").empty());
  }
  DeleteObject(bitmap);
  DeleteFileW(blocker.c_str());
  if (!lockedForReal) GTEST_SKIP() << "paste-locked is not write-protected here";
}
