// Unzip dialog rules.
#include "workspace/unzip_rules.h"

#include "workspace/app_settings.h"

namespace pellix {

TUnzipDefaults ReadUnzipDefaults(const TPXApp& app, bool allFiles) {
    TUnzipDefaults defaults;
    defaults.folder = app.UnzipFolder();
    defaults.allFiles = allFiles;
    defaults.usePaths = app.ExtractUsePaths();
    defaults.overwrite = app.ExtractOverwrite();
    return defaults;
}

bool CanUnzip(const std::string& field) { return field.find_first_not_of(" \t") != std::string::npos; }

void StoreUnzipChoice(TPXApp& app, const TUnzipChoice& choice) {
    app.SetExtractUsePaths(choice.usePaths);
    app.SetExtractOverwrite(choice.overwrite);
    if (app.LastUnzipFolder()) {
        app.SetUnzipFolder(choice.folder);
    }
}

TZipOverwrite UnzipOverwriteMode(bool overwrite) { return overwrite ? xowAlways : xowAsk; }

std::string ReplacePromptText(const std::string& fileName, const std::string& name) {
    return "Replace File : " + fileName + "\n" + "With File: " + name;
}

TZipReplaceAction ReplaceActionOf(TReplaceAnswer answer) {
    switch (answer) {
    case TReplaceAnswer::Yes:
        return xraReplace;
    case TReplaceAnswer::No:
        return xraSkip;
    case TReplaceAnswer::All:
        return xraReplaceAll;
    case TReplaceAnswer::Cancel:
        break;
    }
    return xraCancel;
}

} // namespace pellix
