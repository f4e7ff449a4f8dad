#include <gtest/gtest.h>

#include <set>

#include "engine/LongLine.h"
#include "engine/SearchParams.h"
#include "engine/SearchResult.h"
#include "support/TestSupport.h"

using namespace trawlex;
using trawlex::test::TRecordingSurface;

namespace {

// One pixel per byte, and a part of it in view.
struct TViewSurface : TRecordingSurface {
  TSpan View;
  TSpan ViewSpan() const override { return View; }
};

// 1,000 bytes of 'a' with `put` written at the given offsets.
std::string Line(std::vector<std::pair<int32_t, std::string>> put, size_t size = 1000) {
  std::string text(size, 'a');
  for (const auto& [at, bytes] : put) text.replace(static_cast<size_t>(at), bytes.size(), bytes);
  return text;
}

}  // namespace

TEST(LongLine, StretchesAroundFinds) {
  const std::string euro = "\xE2\x82\xAC";  // three bytes
  struct TCase {
    const char* Name;
    std::string Text;
    std::vector<int32_t> Pos;  // 1-based columns as a line item keeps them
    std::vector<TStretch> Expected;
  } cases[] = {
      {"short line: all of it", std::string(512, 'a'), {100, 103}, {{0, 512}}},
      {"one find: context around it, cut at both ends", Line({}), {501, 504}, {{452, 663}}},
      {"find at the start: nothing cut before", Line({}), {1, 4}, {{0, 163}}},
      {"find running to the end (no end stored)", Line({}), {991}, {{942, 1000}}},
      {"selected find", Line({}), {-501, 504}, {{452, 663}}},
      {"find of no length: context around where it stands", Line({}), {501, 501}, {{452, 660}}},
      {"finds close together share a stretch", Line({}), {301, 304, 501, 504}, {{252, 663}}},
      {"finds far apart: a cut between", Line({}), {201, 204, 801, 804}, {{152, 363}, {752, 963}}},
      {"a gap shorter than a cut is kept", Line({}), {201, 204, 421, 424}, {{152, 583}}},
      {"a rest shorter than a cut at either end is kept", Line({}), {71, 74, 821, 824}, {{0, 233}, {772, 1000}}},
      {"several finds: one stretch each", Line({}, 3000), {201, 204, 1001, 1004, 2001, 2004},
       {{152, 363}, {952, 1163}, {1952, 2163}}},
      {"no find: the start", Line({}), {}, {{0, 208}}},
      // The cut points 452 and 663 fall inside a three-byte character: it is kept whole.
      {"characters of several bytes are not split", Line({{451, euro}, {662, euro}}), {501, 504}, {{451, 665}}},
  };
  for (const TCase& c : cases) EXPECT_EQ(StretchesAroundFinds(c.Text, c.Pos), c.Expected) << c.Name;
}

TEST(LongLine, DrawsOnlyWhatIsInViewAndScrollingReachesEveryFind) {
  TSearchParams params;
  TRecordingSurface measure;
  params.SetCanvas(&measure);
  TSearchFile file(&params);
  // A 2 MB line: finds at 1,000,000 and at its very end, one of them selected.
  const std::string text = Line({{1000000, "needle"}, {1999994, "needle"}}, 2000000);
  TSearchLine* line = file.AddLine(0, 0, text);
  for (int32_t p : {1000001, 1000007, -1999995}) line->AddPosition(p);
  const int32_t width = line->GetWidth(measure);
  EXPECT_LT(width, 1000);  // two stretches and three cut marks, not two million pixels

  // The list scrolled sideways a view at a time: each view draws no more than about its own
  // width of text, and every find shows in one of them, where a double-click finds it too.
  std::set<std::string> shown;
  for (int32_t scroll = 0; scroll < width; scroll += 100) {
    TViewSurface s;
    s.View = {0, 100};
    line->Draw(s, {-scroll, 0, 100, 16}, 0);
    size_t drawn = 0;
    std::string colour;
    for (const auto& call : s.Calls) {
      if (call.Op == "color") colour = trawlex::test::ColorName(call.Color);
      if (call.Op != "text") continue;
      drawn += call.Text.size();
      if (call.Text == "\xE2\x80\xA6") shown.insert("cut");
      if (colour == "0000FF" || colour == "FF0000") {
        if (call.Text == "needle") shown.insert(colour);  // else a find cut by the view's left edge
        TViewSurface hit;
        hit.View = {scroll, scroll + 100};
        EXPECT_EQ(line->FindAtX(hit, call.X + scroll), colour == "0000FF" ? 0 : 1) << scroll;
      }
    }
    EXPECT_LE(drawn, 300u) << scroll;
  }
  EXPECT_EQ(shown, (std::set<std::string>{"cut", "0000FF", "FF0000"}));
}
