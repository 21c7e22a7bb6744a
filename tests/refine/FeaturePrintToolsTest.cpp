#include "refine/FeaturePrintTools.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

TEST(FeaturePrintTools, CanUndoFollowsTheHistoryAndObserversHearEveryChange) {
    FeaturePrintTools tools;
    QSignalSpy canUndo(&tools, &FeaturePrintTools::canUndoChanged);
    QSignalSpy pending(&tools, &FeaturePrintTools::pendingActionChanged);
    EXPECT_FALSE(tools.canUndo());
    EXPECT_EQ(tools.pendingAction(), FeaturePrintTools::PendingAction::none);

    const std::vector<FeaturePrintRefiner::MoveRecord> moves{{"/r/2 乙/a.JPG", "/r/1 甲/a.JPG"}};
    tools.setLastMoves(moves);
    EXPECT_TRUE(tools.canUndo());
    // An undo takes the history: nothing can be undone while it runs.
    EXPECT_EQ(tools.takeLastMoves(), moves);
    EXPECT_FALSE(tools.canUndo());
    EXPECT_TRUE(tools.lastMoves().empty());
    // A pass that moved nothing leaves nothing to undo.
    tools.setLastMoves({});
    EXPECT_FALSE(tools.canUndo());
    ASSERT_EQ(canUndo.count(), 2);
    EXPECT_TRUE(canUndo.at(0).at(0).toBool());
    EXPECT_FALSE(canUndo.at(1).at(0).toBool());

    tools.setPendingAction(FeaturePrintTools::PendingAction::undoLast);
    tools.setPendingAction(FeaturePrintTools::PendingAction::none);
    EXPECT_EQ(pending.count(), 2);
    EXPECT_EQ(&FeaturePrintTools::shared(), &FeaturePrintTools::shared());
}
