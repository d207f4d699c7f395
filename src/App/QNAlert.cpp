#include "App/QNAlert.h"

#include "Core/QNErrorWrapper.h"

QNAlert QNAlert::fromError(const VNErrorPtr &error) {
    QNAlert alert;
    // Handlers put their message under "error"; the wrapper shows it.
    alert.messageText = error ? QNErrorWrapper(error).localizedDescription()
                              : QStringLiteral("An unknown error occurred.");
    alert.buttons = {QStringLiteral("OK")};
    alert.style = Critical;
    return alert;
}

int QNAlert::returnCodeForButton(int index) {
    switch (index) {
    case 0: return FirstButtonReturn;
    case 1: return SecondButtonReturn;
    default: return ThirdButtonReturn;
    }
}
