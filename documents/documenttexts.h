#pragma once

#include <QCoreApplication>

// The user-visible texts of documents, translated in one context.
class Documents {
    Q_DECLARE_TR_FUNCTIONS(Documents)
};
