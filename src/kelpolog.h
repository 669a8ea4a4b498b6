#ifndef KELPOLOG_H
#define KELPOLOG_H

#include <QLoggingCategory>

// One logging category per subsystem.
Q_DECLARE_LOGGING_CATEGORY(lcApp)    // kelpo.app: start-up, settings, languages
Q_DECLARE_LOGGING_CATEGORY(lcStore)  // kelpo.store: database worker and store operations
Q_DECLARE_LOGGING_CATEGORY(lcNet)    // kelpo.net: HTTP worker and server requests
Q_DECLARE_LOGGING_CATEGORY(lcNote)   // kelpo.note: note manager, dispatcher, sync
Q_DECLARE_LOGGING_CATEGORY(lcServer) // kelpo.server: the note service

#endif // KELPOLOG_H
