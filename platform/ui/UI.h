// The declarative UI layer: views as values with chained modifiers, view state and observed
// objects, one retained tree per window rebuilt only where state changed, a layout engine in
// points, a cairo/pango renderer, an SDL2 window and a headless TestHost. Main thread only.
//
// Writing views
// -------------
//   using namespace platform::ui;
//
//   class Counter : public ObservableObject {          // an observed object
//    public:
//     Published<int> taps{this, 0};                    // announces before every change
//   };
//
//   struct Row {                                       // a view: a struct with a body
//     std::string title;
//     std::shared_ptr<Counter> counter;
//     View body() const {
//       auto liked = state(false);                     // kept across rebuilds of this row
//       observedObject(counter);                       // rebuilt when `counter` changes
//       return Button([liked] { liked.set(!*liked); },
//                     Text(title).font(Font::title().withWeight(FontWeight::semibold))
//                         .padding()
//                         .frame({.maxWidth = infinity})
//                         .foregroundColor(environment().colorScheme == ColorScheme::dark
//                                              ? Color::white() : Color::black())
//                         .background(View(Color::gray()).clipShape(RoundedRectangle(10)).opacity(0.5)))
//           .swipeActions(HorizontalEdge::trailing, /*allowsFullSwipe=*/false,
//                         {Button([] {}, Image(*liked ? "heartfill" : "heart"))});
//     }
//   };
//
//   struct Bordered {                                  // a custom modifier
//     View body(View content) const { return content.padding(4).overlay(Rectangle().stroke(Color::black())); }
//   };
//
//   struct Root {
//     View body() const {
//       auto counter = stateObject<Counter>([] { return std::make_shared<Counter>(); });
//       auto showInfo = state(false);
//       return NavigationView(
//           List({ForEach(20, [counter](std::size_t i) {
//                   return View(Row{"Row " + std::to_string(i), counter})
//                       .listRowSeparator(Visibility::hidden)
//                       .listRowBackground(Color::clear());
//                 })})
//               .listStyle(ListStyle::plain)
//               .navigationTitle("Rows")
//               .navigationBarTitleDisplayMode(NavigationBarTitleDisplayMode::inlineMode)
//               .toolbar({{ToolbarPlacement::navigationBarLeading,
//                          NavigationLink([] { return Text("Detail").navigationTitle("Detail"); },
//                                         SystemImage("heart.fill").foregroundColor(Color::pink()))},
//                         {ToolbarPlacement::navigationBarTrailing,
//                          Button([showInfo] { showInfo.set(true); }, SystemImage("gear"))}})
//               .sheet(showInfo.binding(), [] { /* after the sheet is gone */ },
//                      [] { return Button("Close", [] { environment().dismiss(); }); })
//               .modifier(Bordered{}));
//     }
//   };
//
// Images come from the main bundle's asset folder: <bundle>/Assets/<name>.png. Symbols are drawn
// (SystemImage("gear")); see isKnownSymbol. Default spacing is 8 points, default padding 16.
// Lists and lazy grids build rows only near the visible area; ForEach rows keep their state by
// index or id. Plain lists are transparent (a background behind them shows); forms are grouped.
// state(), stateObject() and environment() are valid only inside a body: a view struct's body(),
// a modifier's body(content), a ForEach row, a sheet's content or a navigation destination (each
// is a view of its own in the retained tree). Call them unconditionally, at the top.
//
// Testing views
// -------------
//   TestHost host(Root{}, {.size = {390, 844}, .colorScheme = ColorScheme::light});
//   auto row = host.findText("Row 3");                 // std::optional<Element>
//   ASSERT_TRUE(row);
//   EXPECT_EQ(row->frame().width, 358);                // frames in window points
//   auto actions = host.revealSwipeActions(*row);      // buttons of the trailing actions
//   host.tap(actions[0]);                              // tapping pumps the run loop
//   EXPECT_TRUE(host.findImage("heartfill"));
//   host.tap(*host.findSymbol("heart.fill"));          // pushes "Detail"
//   EXPECT_EQ(host.navigationTitle(), "Detail");
//   host.goBack();
//   host.tap(*host.findSymbol("gear"));
//   EXPECT_EQ(host.sheetCount(), 1u);
//   host.dismissSheet();                               // lowers the binding, then onDismiss
//   host.snapshot(dir / "screen.png");
//
// Text input and popovers
// -----------------------
//   auto name = state(std::string());                  // in a body
//   TextField("Name", name.binding());                 // one line; Return ends editing
//   TextEditor(notes);                                 // a Binding<std::string>; Return breaks lines
//   host.typeText(*host.findField("Name"), "Zoë");     // tap to focus, caret at the end, type
//   host.pressKey(EditingKey::backspace);              // whole code points; Tab: next field
//   host.host().presentPopover(content, anchorRect);   // a box with an arrow at anchorRect
//   host.tapAt({10, 10});                              // outside: closes it
//
// Running in a window
// -------------------
// Clicks are taps; a horizontal drag on a list row reveals its swipe actions; vertical drags and
// the wheel scroll; a downward drag or Escape dismisses the top sheet or popover (Escape first
// ends text editing when a field has focus); typing goes to the focused field; Ctrl+D toggles the colour
// scheme; Alt+Left goes back. Launch arguments: "-ColorScheme dark|light", "-DeviceIdiom pad",
// "-WindowSize WxH", "-snapshot PATH" (headless: writes the settled screen as a PNG and exits).
//   WindowHost window(Root{}, windowOptionsFromLaunchArguments(),
//                     {.onFocusChanged = [](bool focused) { ... },
//                      .onMinimizedChanged = [](bool minimized) { ... }});
//   return window.run();                               // "-snapshot PATH" writes a PNG instead
#pragma once

#include "platform/ui/Geometry.h"
#include "platform/ui/Host.h"
#include "platform/ui/State.h"
#include "platform/ui/Style.h"
#include "platform/ui/TestHost.h"
#include "platform/ui/View.h"
#include "platform/ui/WindowHost.h"
