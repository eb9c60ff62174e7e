// The list view and the text field driven as a window drives them: pixels at a scale, keys with
// their characters. Expected rows and texts come from a small model of the intended behaviour.
#include "editor/ui/list_view.h"
#include "editor/ui/text_field.h"

#include "ui_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace corvella::ui;
using corvella::test::centre_of;
using corvella::test::Pointer;

struct ListPage {
    CRoot root;
    Pointer pointer{root};
    CListView* list = nullptr;
    std::vector<int> selected, activated;
    double time = 0;

    explicit ListPage(int rows, double scale = 1)
    {
        root.set_size({300, 200});
        root.set_scale(scale);
        list = &root.add<CListView>({10, 10, 200, 5 * CListView::row_height});
        std::vector<ListRow> r;
        for (int i = 0; i < rows; ++i) r.push_back({"row " + std::to_string(i), {}, i % 2 == 1, 0});
        list->set_rows(std::move(r));
        list->clock = [this] { return time; };
        list->on_select = [this](CListView&, int i) { selected.push_back(i); };
        list->on_activate = [this](CListView&, int i) { activated.push_back(i); };
    }
    Point row_centre(int i) const { return centre_of(*list, list->row_rect(i)); }
};

TEST(UiList, ClickSelectsAndAQuickSecondClickOnTheSameRowActivates)
{
    for (double scale : {1.0, 1.5, 2.0}) {
        ListPage page(10, scale);
        page.pointer.click(page.row_centre(2));
        page.time = 0.1;
        page.pointer.click(page.row_centre(3)); // another row: no double click
        page.time = 0.2;
        page.pointer.click(page.row_centre(3));
        page.time = 5.0;
        page.pointer.click(page.row_centre(3)); // too late to pair with the last one
        EXPECT_EQ(page.selected, (std::vector<int>{2, 3})) << scale;
        EXPECT_EQ(page.activated, (std::vector<int>{3})) << scale;
    }
}

TEST(UiList, KeysMoveTheSelectionWithinTheRowsAndEnterActivates)
{
    ListPage page(10);
    page.pointer.click(page.row_centre(0)); // focus
    page.root.key_down({Key::up});          // already at the top
    for (int i = 0; i < 6; ++i) page.root.key_down({Key::down});
    page.root.key_down({Key::enter});
    page.root.key_down({Key::end});
    page.root.key_down({Key::down}); // already at the bottom
    EXPECT_EQ(page.selected, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 9}));
    EXPECT_EQ(page.activated, (std::vector<int>{6}));
    // The selected last row was scrolled into view.
    EXPECT_DOUBLE_EQ(page.list->scroll_offset(), 10 * CListView::row_height - page.list->frame().h);
}

TEST(UiList, WheelAndScrollBarScrollWithinTheContentAndClicksHitTheScrolledRow)
{
    ListPage page(40);
    double const max = 40 * CListView::row_height - page.list->frame().h;
    ASSERT_TRUE(page.list->has_scroll_bar());
    page.pointer.wheel(centre_of(*page.list), -1); // one notch down
    EXPECT_DOUBLE_EQ(page.list->scroll_offset(), CListView::wheel_rows * CListView::row_height);
    page.pointer.wheel(centre_of(*page.list), 10); // far up: stops at the top
    EXPECT_DOUBLE_EQ(page.list->scroll_offset(), 0);

    // Drag the thumb to the bottom of the trough and beyond.
    Point const grab = centre_of(*page.list, page.list->thumb_rect());
    page.pointer.down(grab);
    page.pointer.move({grab.x, grab.y + 500});
    page.pointer.up({grab.x, grab.y + 500});
    EXPECT_DOUBLE_EQ(page.list->scroll_offset(), max);

    // The first visible row is now row 35; a click on the top row of the view selects it.
    page.pointer.click(centre_of(*page.list, {0, 0, 100, CListView::row_height}));
    EXPECT_EQ(page.list->selected(), 35);
    // A click in the trough is not a row.
    EXPECT_EQ(page.list->row_at({page.list->frame().w - 3, 5}), -1);
}

struct FieldPage {
    CRoot root;
    Pointer pointer{root};
    CTextField* field = nullptr;
    int changes = 0, enters = 0;
    FieldPage()
    {
        root.set_size({300, 100});
        field = &root.add<CTextField>({10, 10, 200, 22}, "Filter");
        field->on_change = [this](CTextField&) { ++changes; };
        field->on_enter = [this](CTextField&) { ++enters; };
        pointer.click(centre_of(*field));
    }
    void type(std::u32string const& text)
    {
        for (char32_t c : text) root.key_down({c == U' ' ? Key::space : Key::other, 0, static_cast<std::uint32_t>(c)});
    }
    void key(Key k) { root.key_down({k}); }
};

TEST(UiTextField, TypingAndEditingKeysChangeTheTextAtTheCaret)
{
    FieldPage page;
    ASSERT_TRUE(page.field->has_focus());
    page.type(U"h\u00e9ll");        // a two-byte character in the middle
    page.key(Key::left);
    page.key(Key::left);
    page.key(Key::backspace);       // removes the whole two-byte character
    EXPECT_EQ(page.field->text(), "hll");
    page.key(Key::home);
    page.type(U"a ");
    page.key(Key::del);             // the "h"
    page.key(Key::end);
    page.type(U"*x");
    EXPECT_EQ(page.field->text(), "a ll*x");
    EXPECT_EQ(page.field->caret(), page.field->text().size());
    EXPECT_EQ(page.changes, 4 + 1 + 2 + 1 + 2);

    page.root.key_down({Key::other, corvella::ui::mod::control, 'a'}); // a shortcut, not text
    EXPECT_EQ(page.field->text(), "a ll*x");
    page.key(Key::enter);
    EXPECT_EQ(page.enters, 1);
    page.key(Key::escape); // empties the field
    EXPECT_EQ(page.field->text(), "");
    EXPECT_EQ(page.changes, 11);
}

} // namespace
