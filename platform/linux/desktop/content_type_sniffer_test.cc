#include "platform/linux/desktop/content_type_sniffer.h"

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/type_identifiers.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_files.h"

namespace platform::linux_platform {
namespace {

namespace fs = std::filesystem;
using testsupport::WriteFile;

const std::string kPNGStart = std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);

TEST(TypeIdentifierForPath, FilesAreSniffedByNameAndContent) {
  testsupport::TempDir temp;
  const fs::path& dir = temp.path();
  WriteFile(dir / "photo.png", kPNGStart);
  // Content decides when the name says nothing.
  WriteFile(dir / "photo-without-extension", kPNGStart);
  WriteFile(dir / "note.txt", "hello\n");
  WriteFile(dir / "doc.pdf", "%PDF-1.4\n%\xe2\xe3\xcf\xd3\n");
  WriteFile(dir / "random.bin", std::string("\x00\x01\x02\x03\xff\xfe", 6));
  // A movie only of a kind the movie module reads: by content or by name.
  WriteFile(dir / "movie-without-extension", std::string("\0\0\0\x18" "ftypisom\0\0\x02\0isommp41", 24));
  WriteFile(dir / "clip.mkv", "not looked at");
  std::string flicLookalike(4096, '\x5a');
  flicLookalike[0] = '\x12';
  flicLookalike[1] = '\xaf';
  WriteFile(dir / "data-without-extension", flicLookalike);
  WriteFile(dir / "animation.flc", flicLookalike);
  fs::create_directory(dir / "folder");

  EXPECT_EQ(TypeIdentifierForPath((dir / "photo.png").string()), "public.png");
  EXPECT_EQ(TypeIdentifierForPath((dir / "photo-without-extension").string()), "public.png");
  EXPECT_EQ(TypeIdentifierForPath((dir / "note.txt").string()), "public.plain-text");
  EXPECT_EQ(TypeIdentifierForPath((dir / "doc.pdf").string()), "com.adobe.pdf");
  EXPECT_EQ(TypeIdentifierForPath((dir / "random.bin").string()), "public.data");
  EXPECT_EQ(TypeIdentifierForPath((dir / "movie-without-extension").string()), "public.mpeg-4");
  EXPECT_EQ(TypeIdentifierForPath((dir / "clip.mkv").string()), "public.movie");
  EXPECT_EQ(TypeIdentifierForPath((dir / "data-without-extension").string()), "public.data");
  EXPECT_EQ(TypeIdentifierForPath((dir / "animation.flc").string()), "public.data");
  EXPECT_EQ(TypeIdentifierForPath((dir / "folder").string()), "public.folder");
  EXPECT_EQ(TypeIdentifierForPath((dir / "missing").string()), "public.data");
}

TEST(TypeIdentifierForPath, SymbolicLinksAreFollowed) {
  testsupport::TempDir temp;
  const fs::path& dir = temp.path();
  WriteFile(dir / "photo.png", kPNGStart);
  fs::create_directory(dir / "folder");
  fs::create_symlink(dir / "photo.png", dir / "link-to-photo");
  fs::create_directory_symlink(dir / "folder", dir / "link-to-folder");

  EXPECT_EQ(TypeIdentifierForPath((dir / "link-to-photo").string()), "public.png");
  EXPECT_EQ(TypeIdentifierForPath((dir / "link-to-folder").string()), "public.folder");
}

TEST(TypeIdentifierForMIMEType, EveryIdentifierIsDeclaredAndNarrowTypesWin) {
  const std::pair<const char*, const char*> cases[] = {
      {"image/jpeg", "public.jpeg"},         {"image/png", "public.png"},
      {"image/heic", "public.heic"},         {"image/heif", "public.heif"},
      {"image/gif", "com.compuserve.gif"},   {"image/tiff", "public.tiff"},
      {"image/webp", "org.webmproject.webp"}, {"image/x-portable-pixmap", "public.image"},
      {"video/mp4", "public.mpeg-4"},        {"video/quicktime", "com.apple.quicktime-movie"},
      {"video/x-msvideo", "public.avi"},     {"video/webm", "org.webmproject.webm"},
      {"video/x-matroska", "public.movie"},  {"text/plain", "public.plain-text"},
      {"text/html", "public.text"},          {"application/pdf", "com.adobe.pdf"},
      {"inode/directory", "public.folder"},  {"application/octet-stream", "public.data"},
      {"imagex/png", "public.data"},         {"", "public.data"},
  };
  for (const auto& [mime, identifier] : cases) {
    EXPECT_EQ(TypeIdentifierForMIMEType(mime), identifier) << mime;
    // The walk relies on conformance; an undeclared identifier conforms to nothing.
    EXPECT_TRUE(UTTypeIsDeclared(identifier)) << identifier;
  }
}

}  // namespace
}  // namespace platform::linux_platform
