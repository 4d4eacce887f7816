#pragma once
// Start-up rules both programs share: the window title with the operator's
// name from Templates/Co.txt in place of its first word, and the per-title
// instance lock (one running copy per title).

#include <QByteArray>
#include <QString>

inline constexpr int kTitlePrefixMaxBytes = 1000;

// Text of Templates/Co.txt: UTF-8 when valid and holding a byte of 0x80 or
// above, else the ANSI code page (936). Trailing line ends are dropped.
QString DecodeTitlePrefix(const QByteArray& bytes);
// Replaces the first word of `title` (everything before its first space)
// with the text of `prefixBytes` (at most the first 1000 bytes are used).
// Empty text leaves the title as it is.
QString ApplyTitlePrefix(const QString& title, const QByteArray& prefixBytes);
// The title rule with the file at `coPath`; a missing or unreadable file
// leaves the title as it is.
QString LoadTitlePrefix(const QString& title, const QString& coPath);

// File name of the per-title instance lock, and the per-user folder it lies
// in (the user's runtime folder, else a per-user folder in the temp folder).
// The title may hold any character (slashes, line ends): only its digest
// enters the name.
QString InstanceLockName(const QString& title);
QString InstanceLockFolder();

// The refusal of a second start with the same title, in `language`.
QString SecondInstanceText(unsigned language);
