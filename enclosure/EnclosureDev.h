// CEnclosureDev: one family of the enclosure's USB bridge chips, reached through its maker's library.
//
// Each family is a class derived from this one that registers itself at program start in one list of chip
// classes; the device manager thread makes one object of each and talks to the chips only through the virtual
// operations. The letter argument is a drive letter byte 'A' to 'Z', or 255 for every letter.
#pragma once

#include "platform/afx/afx.h"

class CEnclosureDev;

// A chip class's registration entry: name, next entry of the list, factory.
struct ENCLOSURE_DEV_CLASS {
    LPCSTR lpszClassName;
    ENCLOSURE_DEV_CLASS* pNext;
    CEnclosureDev* (*pfnCreate)();
};

// The first entry of the list of chip classes (the last registered).
ENCLOSURE_DEV_CLASS* GetEnclosureDevClassList();

// Puts an entry at the front of the list; used by each chip class's static initialiser.
struct ENCLOSURE_DEV_CLASS_INIT {
    explicit ENCLOSURE_DEV_CLASS_INIT(ENCLOSURE_DEV_CLASS* pEntry);
};

constexpr BYTE ENCLOSURE_ALL_LETTERS = 255;

class CEnclosureDev {
public:
    virtual ~CEnclosureDev() = default;
    virtual const ENCLOSURE_DEV_CLASS* GetClassEntry() const = 0;
    // Loads the library; on success keeps the argument and enumerates; FALSE when the library cannot be loaded.
    virtual BOOL Init(int nOpenArg) = 0;
    virtual void Close() = 0;
    virtual BOOL Enumerate() = 0;
    virtual BOOL SetSecureLed(BYTE letter, BOOL bOn) = 0;
    virtual BOOL SetReadyLed(BYTE letter, BOOL bOn) = 0;
    virtual BOOL SetBothLeds(BYTE letter, BOOL bOn) = 0;
    virtual BOOL ReadRegister(BYTE letter, WORD* pValue) = 0;
    virtual BOOL WriteRegister(BYTE letter, WORD value) = 0;
    virtual int IsValid() = 0;
    virtual BOOL IsButtonPressed() = 0;
    // Whether a disk with this USB parent id belongs to this family (compared without regard to case; an empty id
    // never matches).
    virtual BOOL MatchHardwareId(LPCTSTR lpszId) const = 0;
    // One row of the family's model table; FALSE past its end.
    virtual BOOL GetModelInfo(int nRow, CString& strName, WORD& wVendorId, WORD& wProductId, BYTE& byte) const = 0;
};

// A record of one model, as command 9 reports it.
struct ENCLOSURE_MODEL_INFO {
    CString strName;
    WORD wVendorId = 0;
    WORD wProductId = 0;
    BYTE byte = 0;
};
