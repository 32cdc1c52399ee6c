#include "share/handed_over_list.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/testing/fake_item_provider.h"

namespace halvernsignet_mobile_Share {
namespace {

platform::NSExtensionItem ItemOf(const std::vector<std::vector<std::string>>& types) {
  platform::NSExtensionItem::Attachments attachments;
  for (const auto& offered : types) attachments.push_back(std::make_shared<platform::testing::FakeItemProvider>(offered));
  return platform::NSExtensionItem(std::move(attachments));
}

TEST(HandedOverList, OnlyMediaOfAShareThatHandsOverMediaIsCopied) {
  struct Case {
    std::vector<std::vector<std::string>> attachments;
    std::optional<PayloadKind> list;
    std::vector<std::int64_t> copied;
  };
  const Case cases[] = {
      // The last attachment decides; a link to a local file is a link, never copied.
      {{{"public.jpeg"}, {"public.file-url"}, {"public.mpeg-4"}}, PayloadKind::mediaList, {0, 1, 2}},
      {{{"public.jpeg"}, {"public.plain-text"}, {"public.file-url"}}, PayloadKind::mediaList, {0, 2}},
      {{{"public.jpeg"}, {"public.mpeg-4"}, {"public.plain-text"}}, PayloadKind::textList, {}},
      {{{"public.file-url"}, {"public.url"}}, PayloadKind::textList, {}},
      // An image that is also a URL is an image; a last attachment of no kind hands over nothing.
      {{{"public.url", "public.png"}}, PayloadKind::mediaList, {0}},
      {{{"public.jpeg"}, {"com.example.unknown"}}, std::nullopt, {}},
      {{}, std::nullopt, {}},
  };
  for (const Case& c : cases) {
    const platform::NSExtensionItem item = ItemOf(c.attachments);
    EXPECT_EQ(ListHandedOver(item), c.list) << c.attachments.size();
    EXPECT_EQ(AttachmentsCopied(item), c.copied) << c.attachments.size();
  }
}

}  // namespace
}  // namespace halvernsignet_mobile_Share
