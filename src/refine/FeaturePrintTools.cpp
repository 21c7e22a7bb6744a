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
