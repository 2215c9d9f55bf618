#include "register/run_settings.h"

QString MethodName(int method)
{
    switch (method) {
    case kMethodOtsu:
        return QStringLiteral("Otsu");
    case kMethodModeValue:
        return QStringLiteral("Mode Value");
    case kMethodFrameDiff:
        return QStringLiteral("Frame Diff");
    case kMethodBackground:
        return QStringLiteral("Background");
    }
    return QStringLiteral("method %1").arg(method);
}
