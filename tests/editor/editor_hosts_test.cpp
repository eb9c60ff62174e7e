// The plug-in window's host binding, and opening and closing editors over one instance.
#include "editor_test_support.h"

#include "editor/direct_editor_host.h"
#include "editor/ui/menu.h"

#include <gtest/gtest.h>

namespace {

using namespace corvella;

TEST(EditorHosts, DirectBindingSendsHostParametersThroughTheFormatPathOnly)
{
    host::InProcessHost host;
    host.create_instance(host::Variant::stereo_to_stereo, 48000.0);
    std::vector<std::string> path;
    editor::ParameterPath p;
    p.begin = [&](std::string const& k) { path.push_back("begin " + k); };
    p.set = [&](std::string const& k, float v) {
        path.push_back("set " + k);
        host.set_parameter(k, v);
    };
    p.end = [&](std::string const& k) { path.push_back("end " + k); };
    editor::DirectEditorHost direct(host.parameters(), p);

    direct.begin_gesture("ir1_gain");
    direct.set_parameter("ir1_gain", 0.75f);
    direct.end_gesture("ir1_gain");
    EXPECT_EQ(path, (std::vector<std::string>{"begin ir1_gain", "set ir1_gain", "end ir1_gain"}));
    EXPECT_FLOAT_EQ(direct.get_parameter("ir1_gain"), 0.75f);

    // No host parameter can carry these: the tail variant has none, and the STS switch's middle
    // state is no value of its on/off one. They go to the parameters object itself.
    path.clear();
    direct.begin_gesture("ir1_tail_variant");
    direct.set_parameter("ir1_tail_variant", 0.5f);
    direct.end_gesture("ir1_tail_variant");
    direct.set_parameter("ir1_sts_toggle", 0.5f);
    EXPECT_TRUE(path.empty());
    EXPECT_FLOAT_EQ(direct.get_parameter("ir1_tail_variant"), 0.5f);
    EXPECT_EQ(direct.get_parameter("ir1_sts_toggle"), 0.5f);
    direct.set_parameter("ir1_sts_toggle", 1.0f);
    EXPECT_EQ(path, (std::vector<std::string>{"set ir1_sts_toggle"}));
    EXPECT_EQ(direct.get_parameter("ir1_sts_toggle"), 1.0f);

    std::int32_t index = 3;
    EXPECT_TRUE(direct.set_custom_data(custom_data::current_program, &index, 4));
    index = 0;
    EXPECT_EQ(direct.get_custom_data(custom_data::current_program, &index, 4), 4u);
    EXPECT_EQ(index, 3);
}

TEST(EditorHosts, OpeningAndClosingTheEditorRepeatedlyLeavesNothingBehind)
{
    host::InProcessHost host;
    host.create_instance(host::Variant::stereo_to_stereo, 48000.0);
    editor::InProcessEditorHost binding(host);
    for (int i = 0; i < 8; ++i) {
        editor::CEditorView view(binding, {i % 9, i % 3, i % 2, (i / 2) % 2});
        EXPECT_EQ(view.root().current_theme().name, ui::themes()[static_cast<std::size_t>(i % 9)].name);
        EXPECT_EQ(view.root().options().dial_mode, static_cast<ui::DialMode>(i % 3));
        view.select_page("Chorus/IR2");
        view.idle();
        view.command_menu(editor::CommandMenu::chorus)->open(); // closed with the window
        ASSERT_EQ(view.root().overlays().size(), 1u);
    }
    EXPECT_EQ(binding.open_gestures(), 0);
}

} // namespace
