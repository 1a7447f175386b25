// The "Folders" bar drives its tree through the tree's operations.
#include <gtest/gtest.h>

#include <QWidget>

#include "ToolDlgParent.h"

namespace {

class FakeTree : public QWidget, public IFolderTree {
public:
    bool GetSelectedFolder(std::string& path) const override {
        path = selected;
        return !selected.empty();
    }
    bool SelectParentFolder() override {
        ++parents;
        return true;
    }
    void SelectCurrentFolder() override { ++currents; }
    void Refresh() override {
        ++refreshes;
        updatesWhileRefreshing = updatesEnabled();
    }
    void SelectFolder(const std::string& path) override { selected = path; }
    std::string selected;
    int parents = 0, currents = 0, refreshes = 0;
    bool updatesWhileRefreshing = true;
};

}  // namespace

TEST(BrowserTreeBar, DrivesTheTreeAndRefreshesOnlyAVisibleOne) {
    CBrowserTreeBar bar("Folders");
    auto* tree = new FakeTree;
    bar.SetTree(tree, tree);
    EXPECT_EQ(tree->objectName(), "32786");
    EXPECT_EQ(bar.GetSelectedPath(), "");
    bar.RefreshTree();
    EXPECT_EQ(tree->refreshes, 0) << "a hidden tree is left alone";

    bar.show();
    bar.ShowCurrentFolder();
    EXPECT_EQ(tree->currents, 1);
    EXPECT_TRUE(tree->isVisible());
    bar.RefreshTree();
    EXPECT_EQ(tree->refreshes, 1);
    EXPECT_FALSE(tree->updatesWhileRefreshing) << "no flicker while it re-reads";
    EXPECT_TRUE(tree->updatesEnabled());

    bar.SelectPath(tree, "/from/the/tree");
    EXPECT_EQ(bar.GetSelectedPath(), "") << "the tree's own selection is not echoed";
    bar.SelectPath(&bar, "/photos");
    EXPECT_EQ(bar.GetSelectedPath(), "/photos");
    bar.EnsureSelection();
    EXPECT_EQ(tree->parents, 1);
}
