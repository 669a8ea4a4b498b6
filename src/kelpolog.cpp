#include "kelpolog.h"

// Debug lines (SQL texts, requests, results) are off unless asked for, for example with
// QT_LOGGING_RULES="kelpo.*.debug=true": they name users and notes.
Q_LOGGING_CATEGORY(lcApp, "kelpo.app", QtInfoMsg)
Q_LOGGING_CATEGORY(lcStore, "kelpo.store", QtInfoMsg)
Q_LOGGING_CATEGORY(lcNet, "kelpo.net", QtInfoMsg)
Q_LOGGING_CATEGORY(lcNote, "kelpo.note", QtInfoMsg)
Q_LOGGING_CATEGORY(lcServer, "kelpo.server", QtInfoMsg)
