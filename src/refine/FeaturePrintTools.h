#pragma once

// The application-wide refinement state: the folder last picked in the main window, the moves of
// the last pass that can still be undone, and the request a menu command leaves for the main
// window. Touched only on the GUI thread; observers are told through the signals.

#include "refine/FeaturePrintRefiner.h"

#include <QObject>
#include <QString>

#include <filesystem>
#include <optional>
#include <vector>

class FeaturePrintTools : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool canUndo READ canUndo NOTIFY canUndoChanged)
    Q_PROPERTY(
        PendingAction pendingAction READ pendingAction WRITE setPendingAction NOTIFY pendingActionChanged)

  public:
    enum class PendingAction { none, runPostprocess, undoLast };
    Q_ENUM(PendingAction)

    explicit FeaturePrintTools(QObject* parent = nullptr);
    static FeaturePrintTools& shared();

    const std::optional<std::filesystem::path>& folderPath() const { return m_folderPath; }
    void setFolderPath(std::optional<std::filesystem::path> folder);

    bool canUndo() const { return m_canUndo; }

    PendingAction pendingAction() const { return m_pendingAction; }
    void setPendingAction(PendingAction action);

    const std::vector<FeaturePrintRefiner::MoveRecord>& lastMoves() const { return m_lastMoves; }
    /// Replaces the undo history (even with an empty list); canUndo follows it.
    void setLastMoves(std::vector<FeaturePrintRefiner::MoveRecord> moves);
    /// Hands the history to an undo that is starting: it is empty afterwards.
    std::vector<FeaturePrintRefiner::MoveRecord> takeLastMoves();

  signals:
    void folderPathChanged();
    void canUndoChanged(bool canUndo);
    void pendingActionChanged(FeaturePrintTools::PendingAction action);

  private:
    std::optional<std::filesystem::path> m_folderPath;
    bool m_canUndo = false;
    PendingAction m_pendingAction = PendingAction::none;
    std::vector<FeaturePrintRefiner::MoveRecord> m_lastMoves;
};
