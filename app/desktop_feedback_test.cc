#include "app/desktop_feedback.h"

#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "platform/testing/fake_item_provider.h"
#include "platform/url.h"
#include "share/handed_over_list.h"
#include "tests/support/temp_dir.h"

namespace app {
namespace {

namespace fs = std::filesystem;
using Payload = AttachmentSpec::Payload;

void WriteBytes(const fs::path& path, std::size_t count) {
  std::ofstream(path, std::ios::binary) << std::string(count, 'x');
}

// The total the progress is told against: what the controller will copy, and
// only that, with folders counted through.
TEST(PlanCopies, CountsWhatTheControllerCopies) {
  testsupport::TempDir tmp;
  WriteBytes(tmp.path() / "photo.jpg", 1000);
  fs::create_directories(tmp.path() / "folder" / "inner");
  WriteBytes(tmp.path() / "folder" / "a", 300);
  WriteBytes(tmp.path() / "folder" / "inner" / "b", 200);
  fs::create_symlink(tmp.path() / "photo.jpg", tmp.path() / "folder" / "link");  // copied as a link
  const std::string photo = platform::URL::fileURLWithPath((tmp.path() / "photo.jpg").string()).absoluteString();
  const std::string folder = platform::URL::fileURLWithPath((tmp.path() / "folder").string(), true).absoluteString();

  struct Case {
    AttachmentSpec attachment;
    CopyPlan expected;
  };
  const std::vector<Case> cases = {
      {{{"public.jpeg"}, Payload::url, photo}, {1, 1000}},
      {{{"public.file-url"}, Payload::url, folder}, {1, 500}},
      {{{"public.mpeg-4"}, Payload::url, photo}, {1, 1000}},
      {{{"public.url"}, Payload::url, photo}, {0, 0}},                    // a link: its text is shared
      {{{"public.plain-text", "public.file-url"}, Payload::url, photo}, {0, 0}},  // text comes first
      {{{"public.jpeg"}, Payload::url, "https://example.com/a.jpg"}, {0, 0}},
      {{{"public.jpeg"}, Payload::error, "gone"}, {0, 0}},
      {{{"public.file-url"}, Payload::url, photo + "-missing"}, {1, 0}},  // fails later, still an item
  };
  for (const Case& c : cases) {
    ShareRequest request;
    request.inputItems.push_back(ItemSpec{true, std::vector<AttachmentSpec>{c.attachment}});
    const platform::NSExtensionItem item(platform::NSExtensionItem::Attachments{
        std::make_shared<platform::testing::FakeItemProvider>(c.attachment.types)});
    const CopyPlan plan = PlanCopies(request, halvernsignet_mobile_Share::AttachmentsCopied(item));
    EXPECT_EQ(plan.items, c.expected.items) << c.attachment.types.front() << " " << c.attachment.value;
    EXPECT_EQ(plan.bytes, c.expected.bytes) << c.attachment.types.front() << " " << c.attachment.value;
  }

  // Left out for its kind (the last attachment is a text): nothing to copy ahead, nothing counted.
  ShareRequest request;
  request.inputItems.push_back(ItemSpec{true, std::vector<AttachmentSpec>{
      {{"public.jpeg"}, Payload::url, photo}, {{"public.plain-text"}, Payload::string, "hi"}}});
  const platform::NSExtensionItem item(platform::NSExtensionItem::Attachments{
      std::make_shared<platform::testing::FakeItemProvider>(std::vector<std::string>{"public.jpeg"}),
      std::make_shared<platform::testing::FakeItemProvider>(std::vector<std::string>{"public.plain-text"})});
  const CopyPlan plan = PlanCopies(request, halvernsignet_mobile_Share::AttachmentsCopied(item));
  EXPECT_EQ(plan.items, 0u);
  EXPECT_TRUE(plan.sources.empty());
}

}  // namespace
}  // namespace app
