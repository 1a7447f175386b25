// The selection manager over a fake row of five items 80 wide, 100 apart.

#include <gtest/gtest.h>

#include <QRect>
#include <Qt>

#include <algorithm>
#include <functional>
#include <string>

#include "CSelectionManager.h"

namespace {

class FakeRow : public ISelectable {
public:
    FakeRow() {
        for (int i = 0; i < 5; ++i)
            items.push_back(&cells[i]);
    }
    void OnSelectionChanged(CSelectionManager*) override { ++changed; }
    void Redraw() override { ++redraws; }
    void ScrollTo(int x, int) override { scrolledTo = x; }
    void SetCapture(bool on) override { captured = on; }
    QRect GetVisibleRect() override { return visible; }
    std::vector<SelItem> GetItems(CSelectionManager*) override { return items; }
    bool CanSelect(CSelectionManager*, SelItem) override { return true; }
    bool RemoveItem(CSelectionManager*, SelItem item) override {
        if (item == refused)
            return false;
        items.erase(std::find(items.begin(), items.end(), item));
        return true;
    }
    void RecalcItemRects(CSelectionManager* manager) override {
        for (size_t i = 0; i < items.size(); ++i)
            manager->SetItemRect(items[i], QRect(static_cast<int>(i) * 100, 0, 80, 80));
    }
    void MoveSelectedTo(CSelectionManager*, int x, int) override { movedTo = x; }

    int Index(SelItem item) const {
        for (int i = 0; i < 5; ++i)
            if (item == &cells[i])
                return i;
        return -1;
    }

    int cells[5] = {};
    std::vector<SelItem> items;
    QRect visible{0, 0, 250, 100};
    SelItem refused = nullptr;
    int changed = 0, redraws = 0, scrolledTo = -1, movedTo = -1;
    bool captured = false;
};

struct Case {
    const char* name;
    std::function<void(FakeRow&, CSelectionManager&)> act;
    std::string selected;  // per original cell, '1' selected, '-' removed
    int anchor;            // original cell index, -1 for none
    int current;
    std::function<void(FakeRow&, CSelectionManager&)> check = nullptr;
};

void Click(CSelectionManager& m, int x, int y = 40) {
    m.OnLButtonDown(x, y, false);
    m.EndTracking(false);
}

}  // namespace

TEST(SelectionManager, Cases) {
    const std::vector<Case> cases = {
        {"click selects only the item", [](FakeRow&, CSelectionManager& m) { Click(m, 140); }, "01000", 1, 1},
        {"second click on it changes nothing",
         [](FakeRow&, CSelectionManager& m) {
             Click(m, 140);
             Click(m, 150);
         },
         "01000", 1, 1},
        {"right edge is outside the item", [](FakeRow&, CSelectionManager& m) { Click(m, 180); }, "00000", -1,
         -1},
        {"press on a multi-selection keeps it until release",
         [](FakeRow&, CSelectionManager& m) {
             Click(m, 40);
             m.OnKeyDown(Qt::Key_Right, true);
             m.OnKeyDown(Qt::Key_Right, true);
             m.OnLButtonDown(140, 40, false);
         },
         "11100", 0, 2,
         [](FakeRow& row, CSelectionManager& m) {
             m.OnMouseMove(300, 40);  // beyond the threshold: the selection is dragged
             EXPECT_EQ(row.movedTo, 300);
             m.EndTracking(false);
             EXPECT_TRUE(m.IsSelected(&row.cells[1]));
             EXPECT_FALSE(m.IsSelected(&row.cells[0]));
             EXPECT_FALSE(m.IsSelected(&row.cells[2]));
             EXPECT_FALSE(row.captured);
         }},
        {"toggling adds to the selection and takes out, keeping the others",
         [](FakeRow& row, CSelectionManager& m) {
             Click(m, 40);
             m.ToggleItem(&row.cells[3]);
             m.ToggleItem(&row.cells[2]);
             m.ToggleItem(&row.cells[3]);
         },
         "10100", 3, 3},
        {"a range grows from a toggled item",
         [](FakeRow& row, CSelectionManager& m) {
             Click(m, 40);
             m.ToggleItem(&row.cells[2]);
             m.OnLButtonDown(440, 40, true);
             m.EndTracking(false);
         },
         "00111", 2, 4},
        {"moves within five pixels start nothing",
         [](FakeRow&, CSelectionManager& m) {
             m.OnLButtonDown(90, 40, false);  // between items: a band could start
             m.OnMouseMove(94, 44);
             m.OnMouseMove(86, 36);
         },
         "00000", -1, -1,
         [](FakeRow& row, CSelectionManager& m) {
             QRect band;
             EXPECT_TRUE(m.GetTrackingRect(band));
             EXPECT_EQ(band, QRect(90, 40, 1, 1));
             EXPECT_EQ(row.movedTo, -1);
         }},
        {"band dragged leftwards anchors the rightmost item",
         [](FakeRow&, CSelectionManager& m) {
             m.OnLButtonDown(390, 40, false);
             m.OnMouseMove(150, 50);
             m.EndTracking(false);
         },
         "01110", 3, 1},
        {"band covering nothing selects nothing",
         [](FakeRow&, CSelectionManager& m) {
             Click(m, 40);
             m.OnLButtonDown(85, 85, false);
             m.OnMouseMove(95, 95);
             m.EndTracking(false);
         },
         "00000", -1, -1},
        {"left on the first wraps to the last",
         [](FakeRow&, CSelectionManager& m) {
             Click(m, 40);
             EXPECT_TRUE(m.OnKeyDown(Qt::Key_Left, false));
         },
         "00001", 4, 4},
        {"shift-left on the first stays and is handled",
         [](FakeRow&, CSelectionManager& m) {
             Click(m, 40);
             EXPECT_TRUE(m.OnKeyDown(Qt::Key_Left, true));
         },
         "10000", 0, 0},
        {"up and down are not handled",
         [](FakeRow&, CSelectionManager& m) {
             Click(m, 240);
             EXPECT_FALSE(m.OnKeyDown(Qt::Key_Up, false));
             EXPECT_FALSE(m.OnKeyDown(Qt::Key_Down, false));
         },
         "00100", 2, 2},
        {"end and home",
         [](FakeRow&, CSelectionManager& m) {
             m.OnKeyDown(Qt::Key_End, false);
             m.OnKeyDown(Qt::Key_Home, true);
         },
         "11111", 4, 0},
        {"page down goes to the last wholly visible item, then a page on",
         [](FakeRow&, CSelectionManager& m) {
             Click(m, 40);
             m.OnKeyDown(Qt::Key_PageDown, false);
         },
         "01000", 1, 1,
         [](FakeRow& row, CSelectionManager& m) {
             m.OnKeyDown(Qt::Key_PageDown, false);
             EXPECT_EQ(row.Index(m.GetCurrentItem()), 4);
             EXPECT_EQ(row.scrolledTo, 230) << "the right edge brought into view";
         }},
        {"delete with nothing selected removes nothing",
         [](FakeRow& row, CSelectionManager& m) {
             EXPECT_TRUE(m.OnKeyDown(Qt::Key_Delete, false));
             EXPECT_EQ(row.changed, 1);
         },
         "00000", -1, -1},
        {"delete gives the focus to the next item",
         [](FakeRow&, CSelectionManager& m) {
             Click(m, 140);
             m.OnKeyDown(Qt::Key_Right, true);
             m.OnKeyDown(Qt::Key_Delete, false);
         },
         "0--10", 3, 3},
        {"delete of the last gives the focus to the one before",
         [](FakeRow&, CSelectionManager& m) {
             Click(m, 440);
             m.OnKeyDown(Qt::Key_Delete, false);
         },
         "0001-", 3, 3},
        {"a refused removal keeps the focus on that item",
         [](FakeRow& row, CSelectionManager& m) {
             row.refused = &row.cells[2];
             Click(m, 240);
             m.OnKeyDown(Qt::Key_Delete, false);
         },
         "00100", 2, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeRow row;
        CSelectionManager manager(&row);
        row.RecalcItemRects(&manager);
        c.act(row, manager);
        std::string selected;
        for (int i = 0; i < 5; ++i) {
            const bool present =
                std::find(row.items.begin(), row.items.end(), &row.cells[i]) != row.items.end();
            selected += !present ? '-' : manager.IsSelected(&row.cells[i]) ? '1' : '0';
        }
        EXPECT_EQ(selected, c.selected);
        EXPECT_EQ(row.Index(manager.GetAnchorItem()), c.anchor);
        EXPECT_EQ(row.Index(manager.GetCurrentItem()), c.current);
        if (c.check)
            c.check(row, manager);
    }
}

TEST(SelectionManager, InsertionItemIsTheOneBeforeWhichADropGoes) {
    FakeRow row;
    CSelectionManager manager(&row);
    row.RecalcItemRects(&manager);
    EXPECT_EQ(row.Index(manager.InsertionItemFromPoint(40, 40)), 0);
    EXPECT_EQ(row.Index(manager.InsertionItemFromPoint(90, 40)), 1) << "the gap before item 1";
    EXPECT_EQ(row.Index(manager.InsertionItemFromPoint(490, 40)), -1) << "after the last";
}

// The selection object the strip's manager and the thumbnail pane share:
// each edit says whether it changed anything and tells the listeners then,
// a batch tells once at its end.
TEST(Selection, EditsTellOnlyWhenTheyChangeSomething) {
    CSelection<std::string> selection;
    int told = 0;
    selection.Listen([&] { ++told; });
    struct Step {
        std::function<bool()> edit;
        bool changed;
        std::vector<std::string> after;
    };
    const Step steps[] = {
        {[&] { return selection.Set("a", true); }, true, {"a"}},
        {[&] { return selection.Set("a", true); }, false, {"a"}},
        {[&] { return selection.Toggle("b"); }, true, {"a", "b"}},
        {[&] { return selection.Rename("b", "c"); }, true, {"a", "c"}},
        {[&] { return selection.Rename("x", "y"); }, false, {"a", "c"}},
        {[&] { return selection.Retain([](const std::string& k) { return k != "a"; }); }, true, {"c"}},
        {[&] { return selection.Assign({"c"}); }, false, {"c"}},
        {[&] { return selection.Toggle("c"); }, true, {}},
        {[&] { return selection.Clear(); }, false, {}},
    };
    int expectedTold = 0;
    for (const Step& step : steps) {
        EXPECT_EQ(step.edit(), step.changed);
        expectedTold += step.changed;
        EXPECT_EQ(told, expectedTold);
        EXPECT_EQ(selection.Count(), step.after.size());
        for (const std::string& key : step.after)
            EXPECT_TRUE(selection.IsSelected(key)) << key;
    }
    told = 0;
    {
        CSelection<std::string>::Batch outer(selection);
        {
            CSelection<std::string>::Batch inner(selection);
            selection.Set("p", true);
            selection.Set("q", true);
        }
        selection.Set("p", false);
        EXPECT_EQ(told, 0) << "held until the outermost batch ends";
    }
    EXPECT_EQ(told, 1);
    {
        CSelection<std::string>::Batch idle(selection);
        selection.Set("q", true);
    }
    EXPECT_EQ(told, 1) << "a batch that changed nothing tells nothing";
}

// The strip's manager keeps its selection in that object: a range and a
// toggle are told to a listener of the manager's selection.
TEST(Selection, TheStripManagerTellsItsSelectionChanges) {
    FakeRow row;
    CSelectionManager manager(&row);
    int told = 0;
    manager.Selection().Listen([&] { ++told; });
    manager.SetAnchorAndCurrent(row.items[1], row.items[3]);
    EXPECT_EQ(manager.Selection().Count(), 3u);
    EXPECT_EQ(told, 1);
    manager.ToggleItem(row.items[2]);
    EXPECT_FALSE(manager.IsSelected(row.items[2]));
    EXPECT_EQ(told, 2);
}
