#include "refine/FeaturePrintTools.h"

FeaturePrintTools::FeaturePrintTools(QObject* parent) : QObject(parent) {}

FeaturePrintTools& FeaturePrintTools::shared() {
    static FeaturePrintTools instance;
    return instance;
}

void FeaturePrintTools::setFolderPath(std::optional<std::filesystem::path> folder) {
    if (folder == m_folderPath) return;
    m_folderPath = std::move(folder);
    emit folderPathChanged();
}

void FeaturePrintTools::setPendingAction(PendingAction action) {
    if (action == m_pendingAction) return;
    m_pendingAction = action;
    emit pendingActionChanged(action);
}

void FeaturePrintTools::setLastMoves(std::vector<FeaturePrintRefiner::MoveRecord> moves) {
    m_lastMoves = std::move(moves);
    const bool canUndo = !m_lastMoves.empty();
    if (canUndo == m_canUndo) return;
    m_canUndo = canUndo;
    emit canUndoChanged(canUndo);
}

std::vector<FeaturePrintRefiner::MoveRecord> FeaturePrintTools::takeLastMoves() {
    std::vector<FeaturePrintRefiner::MoveRecord> moves = std::move(m_lastMoves);
    setLastMoves({});
    return moves;
}
