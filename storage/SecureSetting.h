// CSecureSetting: the secure-disk options the program keeps with the Expert Mode settings, under "Expert\Secure" of
// the per-user settings key: whether the secure disk is opened automatically ("AutoMount"), the remembered password
// ("Password", enciphered by EncryptPassword) and the security question ("Question").
//
// The Expert Mode dialog offers these as its own static operations (CExpertModeDlg::SetSecureSetting and the rest);
// the secure-disk dialogs and the disk configuration, which come before the workflows, reach the same store here.
//
// A remembered password is kept only while "AutoMount" is on: switching it off removes the stored password, so that
// a password the user no longer wants remembered does not stay behind. A stored password that cannot be deciphered
// (another Windows user's, or damaged) counts as none.
//
// GUI thread (the registry calls themselves are safe anywhere).
#pragma once

#include "platform/afx/String.h"

class CComboBox;

// The password cipher: the text is converted to the ANSI code page, enciphered with EncryptString keyed by the
// Windows user name (or the fixed key text when that cannot be read), and the cipher bytes become wide text again,
// one character per byte. DecryptPassword reverses it. TRUE on success; the text is unchanged on failure.
BOOL EncryptPassword(CString& strText);
BOOL DecryptPassword(CString& strText);

class CSecureSetting {
public:
    // Writes "AutoMount"; a non-empty password is enciphered and stored as "Password" (an empty one leaves a
    // stored password as it is, unless automatic mounting goes off, which removes it). FALSE when the key or a
    // value cannot be written, or the password cannot be enciphered.
    static BOOL SetSecureSetting(BOOL bAutoMount, LPCTSTR lpszPassword);
    // TRUE exactly when "AutoMount" is stored and not 0 and, when a password is asked for, a stored password could
    // be deciphered into it. The password is empty whenever the result is FALSE.
    static BOOL GetSecureSetting(CString* pPassword = nullptr);
    static BOOL SetSecureQuestion(LPCTSTR lpszQuestion);
    // The stored question (empty when none). With a combo box, its list gets the stock questions (string ids 6000
    // to 6008 that have a text, each with its id as item data), and the stored question is selected, added first
    // when it is none of them.
    static void GetSecureQuestion(CString& strQuestion, CComboBox* pCombo = nullptr);

    // The settings key "Expert\Secure" below the per-user root key.
    static CString GetKeyPath();
};
