// The Corvella pages: every page renders at three scales (PNGs kept for a person to look at), no
// two controls of a page overlap, different pages give different pictures, and every host
// parameter has a control.
#include "editor_test_support.h"

#include "editor/ui/offscreen.h"
#include "editor/ui/value_control.h"
#include "program/parameter_table.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <set>

namespace {

using namespace corvella;
using corvella::test::EditorFixture;
namespace fs = std::filesystem;

fs::path pages_folder()
{
    static fs::path const folder = [] {
        fs::path p = fs::read_symlink("/proc/self/exe").parent_path() / "editor-pages";
        fs::create_directories(p);
        std::cout << "Editor pages: " << p.string() << "\n";
        return p;
    }();
    return folder;
}

// Root rectangles of the shown widgets that take input, outside overlays.
void shown_controls(ui::CWidget& w, std::vector<std::pair<ui::Rect, std::string>>& out)
{
    for (auto const& child : w.children()) {
        if (!child->visible()) continue;
        if (child->takes_mouse() && dynamic_cast<ui::CValueControl*>(child.get()))
            out.emplace_back(child->to_root(child->bounds()), child->id());
        shown_controls(*child, out);
    }
}

std::size_t picture_hash(ui::CImage const& image)
{
    std::size_t h = 1469598103934665603ull;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2) h = (h ^ image.pixel(x, y)) * 1099511628211ull;
    return h;
}

TEST(EditorPages, EveryPageRendersAtThreeScalesWithoutOverlapsAndPagesDiffer)
{
    EditorFixture f;
    auto const paths = f.view->page_paths();
    ASSERT_EQ(paths.size(), 34u); // 3 + 6 per IR slot and EQ, 2 SplitMod, 3 + 3, 6 post EQ, mixer, settings
    std::map<std::size_t, std::string> seen;
    for (auto const& path : paths) {
        ASSERT_TRUE(f.view->select_page(path)) << path;
        std::vector<std::pair<ui::Rect, std::string>> controls;
        shown_controls(f.root(), controls);
        for (auto const& [rect, id] : controls) {
            ui::CWidget* hit = f.root().hit_test({rect.x + rect.w / 2, rect.y + rect.h / 2});
            EXPECT_TRUE(hit != nullptr && hit->id() == id) << path << ": " << id << " is covered";
        }
        for (std::size_t i = 0; i < controls.size(); ++i)
            for (std::size_t j = i + 1; j < controls.size(); ++j)
                EXPECT_FALSE(controls[i].first.intersects(controls[j].first))
                    << path << ": " << controls[i].second << " overlaps " << controls[j].second;
        for (double scale : {1.0, 1.5, 2.0}) {
            ui::CImage const image = ui::render(f.root(), scale);
            EXPECT_EQ(image.width(), static_cast<int>(editor::CEditorView::width * scale));
            std::string name = path;
            for (char& c : name)
                if (c == '/' || c == ' ') c = '_';
            fs::path const file = pages_folder() / (name + "@" + std::to_string(static_cast<int>(scale * 10)) + ".png");
            EXPECT_TRUE(image.write_png(file.string())) << file;
            if (scale == 1.0) {
                auto const [it, fresh] = seen.emplace(picture_hash(image), path);
                EXPECT_TRUE(fresh) << path << " looks exactly like " << it->second;
            }
        }
    }
}

TEST(EditorPages, EveryHostParameterHasAControlAndEveryControlAKnownKey)
{
    EditorFixture f;
    std::set<std::string> bound;
    std::function<void(ui::CWidget&)> walk = [&](ui::CWidget& w) {
        for (auto const& child : w.children()) {
            if (dynamic_cast<ui::CValueControl*>(child.get()) && !child->id().empty()) bound.insert(child->id());
            walk(*child);
        }
    };
    walk(f.root());
    for (auto const& row : parameter_table()) {
        if (row.kind == ParameterKind::program_selector) continue; // programs are picked by the host
        EXPECT_TRUE(bound.count(row.key)) << row.key << " has no control";
    }
    for (auto const& id : bound) {
        bool const known = find_parameter(id) != nullptr || id == "ir1_tail_variant" || id == "ir2_tail_variant" ||
                           id.rfind("data:", 0) == 0 || id.rfind("command:", 0) == 0 || id.rfind("setting:", 0) == 0 ||
                           id.rfind("file-", 0) == 0 || id.rfind("eject:", 0) == 0 || id.rfind("browser:", 0) == 0;
        EXPECT_TRUE(known) << id;
    }
}

} // namespace
