#pragma once

// The application-wide refinement state: the folder last picked in the main window and the
// request a menu command leaves for the main window. What can be undone is the shoot's history.
// Touched only on the GUI thread; observers are told through the signals.

#include <QObject>
#include <QString>

#include <filesystem>
#include <optional>

class FeaturePrintTools : public QObject {
    Q_OBJECT
    Q_PROPERTY(
        PendingAction pendingAction READ pendingAction WRITE setPendingAction NOTIFY pendingActionChanged)

  public:
    enum class PendingAction { none, runPostprocess, undoLast };
    Q_ENUM(PendingAction)

    explicit FeaturePrintTools(QObject* parent = nullptr);
    static FeaturePrintTools& shared();

    const std::optional<std::filesystem::path>& folderPath() const { return m_folderPath; }
    void setFolderPath(std::optional<std::filesystem::path> folder);

    PendingAction pendingAction() const { return m_pendingAction; }
    void setPendingAction(PendingAction action);

  signals:
    void folderPathChanged();
    void pendingActionChanged(FeaturePrintTools::PendingAction action);

  private:
    std::optional<std::filesystem::path> m_folderPath;
    PendingAction m_pendingAction = PendingAction::none;
};
