#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "app_model/app.h"

namespace Ombrix {
namespace {

bool has(const OApp& app, const char* state) { return app.states.contains(state); }

TEST(WindowState, width_classes_switch_at_600_and_900) {
  OApp app;
  EXPECT_TRUE(app.set_viewport_width(600.0));
  EXPECT_TRUE(has(app, "Narrow"));
  EXPECT_FALSE(has(app, "Medium"));
  EXPECT_FALSE(app.set_viewport_width(320.0));

  EXPECT_TRUE(app.set_viewport_width(900.0));
  EXPECT_FALSE(has(app, "Narrow"));
  EXPECT_TRUE(has(app, "Medium"));
  EXPECT_FALSE(app.set_viewport_width(600.5));

  EXPECT_TRUE(app.set_viewport_width(900.5));
  EXPECT_FALSE(has(app, "Narrow"));
  EXPECT_FALSE(has(app, "Medium"));

  // Not a number belongs to no class, like any width above 900.
  EXPECT_FALSE(app.set_viewport_width(std::numeric_limits<double>::quiet_NaN()));
  EXPECT_FALSE(app.set_viewport_width(1e9));
}

TEST(WindowState, leaving_narrow_clears_hidden_controls_and_the_scroll_sum) {
  OApp app;
  app.set_viewport_width(500.0);
  EXPECT_FALSE(app.on_scroll(20.0));
  EXPECT_TRUE(app.on_scroll(15.0));
  EXPECT_TRUE(has(app, "ControlsHidden"));
  EXPECT_EQ(app.scroll_accumulator, 0.0);
  EXPECT_FALSE(app.on_scroll(12.0));
  EXPECT_EQ(app.scroll_accumulator, 12.0);

  EXPECT_TRUE(app.set_viewport_width(700.0));
  EXPECT_FALSE(has(app, "Narrow"));
  EXPECT_FALSE(has(app, "ControlsHidden"));
  EXPECT_EQ(app.scroll_accumulator, 0.0);

  // Wide to wide changes nothing, not even a hand-set state.
  app.set_viewport_width(1000.0);
  app.set_controls_hidden(true);
  EXPECT_FALSE(app.set_viewport_width(950.0));
  EXPECT_TRUE(has(app, "ControlsHidden"));

  // Medium to wide clears it.
  app.set_viewport_width(700.0);
  app.set_controls_hidden(true);
  EXPECT_TRUE(app.set_viewport_width(1000.0));
  EXPECT_FALSE(has(app, "ControlsHidden"));
  EXPECT_FALSE(has(app, "Medium"));
}

TEST(WindowState, scrolling_hides_and_shows_controls_only_while_narrow) {
  OApp app;
  app.scroll_accumulator = 7.0;
  EXPECT_FALSE(app.on_scroll(100.0));
  EXPECT_EQ(app.scroll_accumulator, 7.0);
  EXPECT_FALSE(has(app, "ControlsHidden"));

  app.set_viewport_width(400.0);
  app.scroll_accumulator = 0.0;
  EXPECT_FALSE(app.on_scroll(-20.0));
  EXPECT_FALSE(app.on_scroll(-10.0));
  EXPECT_EQ(app.scroll_accumulator, -30.0);
  // Showing controls that are shown is no change, but the sum still resets.
  EXPECT_FALSE(app.on_scroll(-0.5));
  EXPECT_EQ(app.scroll_accumulator, 0.0);

  EXPECT_FALSE(app.on_scroll(30.0));
  EXPECT_TRUE(app.on_scroll(0.25));
  EXPECT_TRUE(has(app, "ControlsHidden"));
  EXPECT_FALSE(app.on_scroll(31.0));
  EXPECT_TRUE(app.on_scroll(-31.0));
  EXPECT_FALSE(has(app, "ControlsHidden"));

  // A delta that is not a finite number changes nothing; the sum goes on counting.
  app.scroll_accumulator = 20.0;
  for (const double delta :
       {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity()}) {
    EXPECT_FALSE(app.on_scroll(delta));
    EXPECT_EQ(app.scroll_accumulator, 20.0);
    EXPECT_FALSE(has(app, "ControlsHidden"));
  }
  EXPECT_TRUE(app.on_scroll(15.0));
  EXPECT_TRUE(has(app, "ControlsHidden"));
}

TEST(WindowState, height_rounds_and_reports_only_when_heights_depend_on_it) {
  OApp app;
  EXPECT_FALSE(app.set_viewport_height(480.5));
  EXPECT_EQ(app.viewport_height, 481.0);
  app.uses_viewport_heights = true;
  EXPECT_FALSE(app.set_viewport_height(480.6));
  EXPECT_TRUE(app.set_viewport_height(-2.5));
  EXPECT_EQ(app.viewport_height, -3.0);
}

TEST(WindowState, maximized_and_controls_hidden_report_real_changes) {
  OApp app;
  EXPECT_FALSE(app.set_maximized(false));
  EXPECT_TRUE(app.set_maximized(true));
  EXPECT_FALSE(app.set_maximized(true));
  EXPECT_TRUE(has(app, "Maximized"));
  EXPECT_TRUE(app.set_maximized(false));
  EXPECT_FALSE(has(app, "Maximized"));

  EXPECT_TRUE(app.set_controls_hidden(true));
  EXPECT_FALSE(app.set_controls_hidden(true));
  EXPECT_TRUE(app.set_controls_hidden(false));
  EXPECT_FALSE(app.set_controls_hidden(false));
}

TEST(ToggleState, flips_one_name_and_keeps_the_emptied_set) {
  OApp app;
  app.toggle_state("App/Box", "Checked");
  app.toggle_state("App/Box", "Selected");
  EXPECT_EQ(app.node_states.at("App/Box"), (StringSet{"Checked", "Selected"}));
  app.toggle_state("App/Box", "Checked");
  app.toggle_state("App/Box", "Selected");
  ASSERT_EQ(app.node_states.count("App/Box"), 1u);
  EXPECT_TRUE(app.node_states.at("App/Box").empty());
  EXPECT_EQ(app.node_states.size(), 1u);
}

}  // namespace
}  // namespace Ombrix
