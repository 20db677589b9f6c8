#include <cairo.h>
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/testing/PlatformTest.h"
#include "platform/ui/Tree.h"
#include "platform/ui/UI.h"

namespace platform::ui {
namespace {

class TextInputTest : public platform::testing::PlatformTest {};

// The text the fields edit, kept outside the tree so tests read what a binding received.
struct Texts {
  std::string name, notes;
  int nameWrites = 0;
};

Binding<std::string> bind(std::shared_ptr<Texts> t, std::string Texts::*member) {
  return Binding<std::string>([t, member] { return (*t).*member; },
                              [t, member](std::string v) {
                                if (member == &Texts::name) ++t->nameWrites;
                                (*t).*member = std::move(v);
                              });
}

struct Screen {
  std::shared_ptr<Texts> texts;
  View body() const {
    return VStack({TextField("Name", bind(texts, &Texts::name)),
                   TextEditor(bind(texts, &Texts::notes)).accessibilityIdentifier("notes"),
                   Button("Done", [] {})})
        .padding();
  }
};

TEST_F(TextInputTest, TypingGoesToTheTappedFieldAndFocusMovesBetweenFields) {
  auto texts = std::make_shared<Texts>();
  TestHost host(Screen{texts});
  auto name = host.findField("Name");
  ASSERT_TRUE(name);
  EXPECT_FALSE(host.host().isEditingText());
  EXPECT_FALSE(host.host().insertText("lost"));  // nothing focused: nothing typed

  ASSERT_TRUE(host.typeText(*name, "Ada"));
  EXPECT_EQ(texts->name, "Ada");
  EXPECT_EQ(host.caretOffset(), 3u);
  EXPECT_TRUE(host.findText("Ada"));  // finders see what a field holds

  ASSERT_TRUE(host.typeText(*host.findId("notes"), "line one"));
  ASSERT_TRUE(host.focusedField());
  EXPECT_TRUE(host.focusedField()->node()->blueprint->flag);  // the editor has focus now
  host.typeText("!");
  EXPECT_EQ(texts->name, "Ada");
  EXPECT_EQ(texts->notes, "line one!");

  ASSERT_TRUE(host.pressKey(EditingKey::tab));  // round to the first field
  EXPECT_EQ(host.focusedField()->placeholder(), "Name");
  EXPECT_EQ(host.caretOffset(), 3u);

  host.tap(*host.findText("Done"));  // a tap elsewhere ends editing
  EXPECT_FALSE(host.focusedField());
  EXPECT_FALSE(host.pressKey(EditingKey::backspace));
  EXPECT_EQ(texts->name, "Ada");
}

TEST_F(TextInputTest, EditingKeysMoveAndDeleteByWholeCodePoints) {
  auto texts = std::make_shared<Texts>();
  TestHost host(Screen{texts});
  auto name = *host.findField("Name");
  // "é" is two bytes, "€" three, the emoji four.
  ASSERT_TRUE(host.typeText(name, "aé€😀z"));
  const std::string full = "aé€😀z";
  ASSERT_EQ(texts->name, full);

  struct Step {
    EditingKey key;
    std::size_t caret;
    std::string text;
  };
  const std::vector<Step> steps = {
      {EditingKey::left, full.size() - 1, full},
      {EditingKey::left, full.size() - 5, full},  // over the emoji
      {EditingKey::backspace, 3, "aé😀z"},         // the euro sign goes whole
      {EditingKey::deleteForward, 3, "aéz"},      // and the emoji
      {EditingKey::home, 0, "aéz"},
      {EditingKey::right, 1, "aéz"},
      {EditingKey::right, 3, "aéz"},
      {EditingKey::backspace, 1, "az"},
      {EditingKey::end, 2, "az"},
      {EditingKey::deleteForward, 2, "az"},  // nothing after the caret
      {EditingKey::right, 2, "az"},
  };
  for (const auto& step : steps) {
    ASSERT_TRUE(host.pressKey(step.key));
    EXPECT_EQ(host.caretOffset(), step.caret) << static_cast<int>(step.key);
    EXPECT_EQ(texts->name, step.text) << static_cast<int>(step.key);
  }
  for (int i = 0; i < 4; ++i) host.pressKey(EditingKey::backspace);
  EXPECT_EQ(texts->name, "");
  EXPECT_EQ(host.caretOffset(), 0u);
}

TEST_F(TextInputTest, InvalidBytesAndLineBreaksAreFilteredByFieldKind) {
  auto texts = std::make_shared<Texts>();
  TestHost host(Screen{texts});
  // A lone continuation byte, a truncated sequence and an overlong encoding never reach the text.
  ASSERT_TRUE(host.typeText(*host.findField("Name"),
                            std::string("a\x80") + "b\xE2\x82" + "\xC0\xAF" + "c\nd"));
  EXPECT_EQ(texts->name, "abcd");  // one line: the break is left out
  ASSERT_TRUE(host.pressKey(EditingKey::enter));
  EXPECT_FALSE(host.focusedField());  // Return ends a single-line field's editing

  ASSERT_TRUE(host.typeText(*host.findId("notes"), "one"));
  ASSERT_TRUE(host.pressKey(EditingKey::enter));
  host.typeText("two\r\nthree");
  EXPECT_EQ(texts->notes, "one\ntwo\nthree");
  ASSERT_TRUE(host.pressKey(EditingKey::home));
  EXPECT_EQ(host.caretOffset(), 8u);  // start of "three"
  host.pressKey(EditingKey::left);
  host.pressKey(EditingKey::home);
  EXPECT_EQ(host.caretOffset(), 4u);  // start of "two"
  host.pressKey(EditingKey::end);
  EXPECT_EQ(host.caretOffset(), 7u);
}

TEST_F(TextInputTest, ACaretLandsWhereTheTapIsAndSurvivesOutsideChanges) {
  auto texts = std::make_shared<Texts>();
  texts->name = "wwwwwwwwww";
  TestHost host(Screen{texts});
  auto name = *host.findField("Name");
  Rect f = name.frame();
  host.tapAt({f.x + detail::kFieldInsetX + 1, f.midY()});
  EXPECT_EQ(host.caretOffset(), 0u);
  host.typeText("é");
  EXPECT_EQ(texts->name, "éwwwwwwwwww");
  // The model shrinks under the caret: the next edit still lands on a boundary inside the text.
  texts->name = "é";
  host.pressKey(EditingKey::right);
  host.pressKey(EditingKey::right);
  host.typeText("x");
  EXPECT_EQ(texts->name, "éx");
}

TEST_F(TextInputTest, DisabledFieldsTakeNoFocusAndAFieldThatLeavesDropsIt) {
  auto texts = std::make_shared<Texts>();
  TestHost disabled(TextField("Locked", bind(texts, &Texts::name)).disabled());
  EXPECT_FALSE(disabled.typeText(*disabled.findField("Locked"), "x"));
  EXPECT_EQ(texts->name, "");

  struct Sheet {
    std::shared_ptr<Texts> texts;
    View body() const {
      auto shown = state(true);
      return Text("under").sheet(shown.binding(), {}, [t = texts] {
        return TextField("In sheet", bind(t, &Texts::name));
      });
    }
  };
  std::vector<bool> inputStates;
  TestHost host(Sheet{texts});
  host.host().setTextInputHandler([&](bool on) { inputStates.push_back(on); });
  ASSERT_TRUE(host.typeText(*host.findField("In sheet"), "hi"));
  ASSERT_TRUE(host.dismissSheet());
  EXPECT_FALSE(host.host().isEditingText());
  EXPECT_FALSE(host.host().insertText("more"));
  EXPECT_EQ(texts->name, "hi");
  EXPECT_EQ(inputStates, (std::vector<bool>{true, false}));
}

TEST_F(TextInputTest, FieldsDrawTheirTextPlaceholderAndCaret) {
  auto texts = std::make_shared<Texts>();
  TestHost host(Screen{texts}, {.size = {390, 400}});
  auto name = *host.findField("Name");
  auto notes = *host.findId("notes");
  EXPECT_GT(name.frame().width, 300);                          // fields take the offered width
  EXPECT_GT(notes.frame().height, name.frame().height * 1.5);  // an editor shows several lines
  ASSERT_TRUE(host.snapshot(home() / "fields.png"));
  ASSERT_TRUE(host.typeText(name, "Typed"));
  ASSERT_TRUE(host.snapshot(home() / "typed.png"));
  EXPECT_TRUE(std::filesystem::file_size(home() / "typed.png") > 0);
  // The focused field's border takes the accent colour; probe a pixel of its top edge.
  cairo_surface_t* image = cairo_image_surface_create_from_png((home() / "typed.png").c_str());
  ASSERT_EQ(cairo_surface_status(image), CAIRO_STATUS_SUCCESS);
  const auto* data = cairo_image_surface_get_data(image);
  int stride = cairo_image_surface_get_stride(image);
  Rect f = name.frame();
  auto pixel = [&](double x, double y) {
    const auto* p = data + static_cast<int>(y) * stride + static_cast<int>(x) * 4;
    return std::array<int, 3>{p[2], p[1], p[0]};
  };
  auto edge = pixel(f.midX(), f.y);
  EXPECT_GT(edge[2], edge[0] + 60);  // blue, not the grey of an idle border
  cairo_surface_destroy(image);
}

}  // namespace
}  // namespace platform::ui
