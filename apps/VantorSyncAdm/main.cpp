// VantorSyncAdm: the administration console of the sync server.
#include <unistd.h>

#include <QApplication>

#include "apps/VantorSyncAdm/DBusSyncObject.h"
#include "apps/VantorSyncAdm/MainDlg.h"
#include "apps/VantorSyncAdm/StringTable.h"
#include "apps/VantorSyncAdm/SyncConnection.h"
#include "apps/VantorSyncAdm/TextManager.h"
#include "apps/VantorSyncAdm/qt/AppIcon.h"
#include "apps/VantorSyncAdm/qt/QtToolkit.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    application.setWindowIcon(appIcon());

    const std::string programPath = QCoreApplication::applicationFilePath().toStdString();
    const std::string folder = programPath.substr(0, programPath.find_last_of('/') + 1);
    if (!folder.empty() && ::chdir(folder.c_str()) != 0) {
        // The current folder only matters for relative paths; carry on where we are.
    }

    ResMgr::TextManager texts;
    texts.registerDialogs(dialogTemplates());
    texts.registerStringTable(builtInStrings());
    texts.loadLanguageFile(folder + ResMgr::TextManager::kLanguageFileName);

    QtToolkit toolkit;
    SyncConnection sync(dbusSyncObjectFactory(), toolkit, texts);
    ConsoleContext context{toolkit, texts, sync, programPath};
    CMainDlg mainDialog(context);
    // The command that closed the main dialog is the exit code.
    return toolkit.runModal(mainDialog, nullptr);
}
