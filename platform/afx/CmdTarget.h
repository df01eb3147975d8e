// CCmdTarget and message maps: the framework's routing of window messages, commands and notifications.
//
// A class declares DECLARE_MESSAGE_MAP() and lists its handlers between BEGIN_MESSAGE_MAP(class, base) and
// END_MESSAGE_MAP(); lookups walk from the class's own map to its bases'. Each entry carries a small dispatcher
// that unpacks the message's parameters and calls the handler with the framework's signature, so handlers are
// checked by the compiler (a handler with the wrong signature does not compile instead of misbehaving).
//
// Commands (WM_COMMAND) and notifications (WM_NOTIFY) are matched by code and id range; reflected notifications
// (ON_NOTIFY_REFLECT, ON_CONTROL_REFLECT and their _EX forms) are matched in the control's own map with the codes
// the framework uses (WM_REFLECT_BASE + message).
#pragma once

#include "platform/afx/Object.h"
#include "platform/com/oleauto.h"

#include <cstdint>
#include <type_traits>
#include <utility>

class CCmdTarget;
struct NMHDR;

constexpr UINT WM_REFLECT_BASE = 0xBC00;
constexpr int CN_COMMAND = 0;

// What a dispatcher gets: the message with its parameters, or the command id, code and extra data.
struct AFX_DISPATCH {
    UINT nMessage;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT* pResult;
    UINT nID;
    void* pExtra;
};

// The extra data of a WM_NOTIFY command lookup.
struct AFX_NOTIFY {
    LRESULT* pResult;
    NMHDR* pNMHDR;
};

// Calls the handler; returns FALSE only for the _EX handlers that decline.
using AFX_DISPATCHER = BOOL (*)(CCmdTarget* pTarget, AFX_DISPATCH& d);

struct AFX_MSGMAP_ENTRY {
    UINT nMessage;            // window message, WM_COMMAND or WM_NOTIFY (plus WM_REFLECT_BASE when reflected)
    UINT nCode;               // control or notification code (low 16 bits)
    UINT nID;                 // first control id
    UINT nLastID;             // last control id of a range
    const UINT* pnRegistered; // ON_REGISTERED_MESSAGE: the variable holding the registered message
    AFX_DISPATCHER pfn;
};

struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

// Automation: the dispatch map of a class names its methods with their dispatch ids, result and parameter types.
struct AFX_DISPMAP_ENTRY;
// Calls the member with arguments already converted to the entry's parameter types, first argument first.
using AFX_DISPATCH_THUNK = void (*)(CCmdTarget* pTarget, VARIANT* pArgs, VARIANT* pResult);
struct AFX_DISPMAP_ENTRY {
    LPCSTR lpszName;
    DISPID lDispID;   // DISPID_UNKNOWN: the entry's position in its map, counted from 1
    VARTYPE vtResult; // VT_EMPTY for none
    LPCSTR vtsParams; // one VARTYPE byte per parameter
    AFX_DISPATCH_THUNK pfn;
};
struct AFX_DISPMAP {
    const AFX_DISPMAP* (*pfnGetBaseMap)();
    const AFX_DISPMAP_ENTRY* lpEntries;
};

class CCmdTarget : public CObject {
    DECLARE_DYNAMIC(CCmdTarget)
public:
    CCmdTarget();
    ~CCmdTarget() override;
    CCmdTarget(const CCmdTarget&) = delete;
    CCmdTarget& operator=(const CCmdTarget&) = delete;

    // Automation. An object with automation enabled offers IDispatch over its dispatch map; its life follows the
    // references its clients hold: it starts with one (the creator's), and the last release calls
    // OnFinalRelease, which deletes the object.
    void EnableAutomation();
    // The object's IDispatch, or null without automation.
    LPDISPATCH GetIDispatch(BOOL bAddRef);
    static CCmdTarget* FromIDispatch(LPDISPATCH lpDispatch);
    DWORD InternalAddRef();
    DWORD InternalRelease();
    DWORD ExternalAddRef() { return InternalAddRef(); }
    DWORD ExternalRelease() { return InternalRelease(); }
    HRESULT ExternalQueryInterface(const IID* iid, LPVOID* ppvObj);
    virtual void OnFinalRelease();

    // Routes a command: nCode is the control code for WM_COMMAND, or MAKELONG(code, message) for notifications
    // and reflected messages. pExtra is AFX_NOTIFY* for WM_NOTIFY. TRUE when a handler took it.
    virtual BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, void* pHandlerInfo);

    // The entry of this object's maps for a window message, or null.
    const AFX_MSGMAP_ENTRY* FindMessageEntry(UINT nMessage) const;

protected:
    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
    static const AFX_DISPMAP* GetThisDispatchMap();
    virtual const AFX_DISPMAP* GetDispatchMap() const;

    LONG m_dwRef = 1;

private:
    struct XDispatch;
    friend struct XDispatch;
    // Invokes a member of the dispatch map (the object's IDispatch::Invoke).
    HRESULT InvokeMember(DISPID id, WORD wFlags, DISPPARAMS* pParams, VARIANT* pResult, UINT* puArgErr);
    HRESULT IdOfName(LPCOLESTR name, DISPID& id) const;

    XDispatch* m_pDispatch = nullptr;
};

// Dispatch maps, declared in the class and listed in its source file:
//   BEGIN_DISPATCH_MAP(CServ, CCmdTarget)
//       DISP_FUNCTION_ID(CServ, "TurnOn", 1, TurnOn, VT_I4, VTS_I4 VTS_I2)
//   END_DISPATCH_MAP()
// Each entry's member is called with its arguments converted to the listed parameter types; the compiler checks
// that the member's own parameters take them.
#define VTS_NONE ""
#define VTS_I2 "\x02"
#define VTS_I4 "\x03"
#define VTS_R8 "\x05"
#define VTS_BSTR "\x08"
#define VTS_BOOL "\x0B"
#define VTS_UI1 "\x11"

template <class T> T AfxFromVariant(const VARIANT& v) {
    if constexpr (std::is_same_v<T, short>)
        return v.iVal;
    else if constexpr (std::is_same_v<T, long> || std::is_same_v<T, int>)
        return v.vt == VT_BOOL ? (v.boolVal ? 1 : 0) : static_cast<T>(v.lVal);
    else if constexpr (std::is_same_v<T, double>)
        return v.dblVal;
    else if constexpr (std::is_same_v<T, BYTE>)
        return v.bVal;
    else if constexpr (std::is_same_v<T, LPCOLESTR>)
        return v.bstrVal ? v.bstrVal : u"";
    else
        static_assert(sizeof(T) == 0, "no automation type for this parameter");
}

template <class T> void AfxToVariant(const T& value, VARIANT& v) {
    if constexpr (std::is_same_v<T, short>) {
        v.vt = VT_I2;
        v.iVal = value;
    } else if constexpr (std::is_same_v<T, long> || std::is_same_v<T, int>) {
        v.vt = VT_I4;
        v.lVal = static_cast<LONG>(value);
    } else if constexpr (std::is_same_v<T, double>) {
        v.vt = VT_R8;
        v.dblVal = value;
    } else if constexpr (std::is_same_v<T, BYTE>) {
        v.vt = VT_UI1;
        v.bVal = value;
    } else if constexpr (std::is_same_v<T, BSTR>) {
        v.vt = VT_BSTR;
        v.bstrVal = value;
    } else {
        static_assert(sizeof(T) == 0, "no automation type for this result");
    }
}

template <auto Member> struct AfxDispatchThunk;
template <class C, class R, class... A, R (C::*Member)(A...)> struct AfxDispatchThunk<Member> {
    static void Call(CCmdTarget* pTarget, VARIANT* pArgs, VARIANT* pResult) {
        CallWith(static_cast<C*>(pTarget), pArgs, pResult, std::index_sequence_for<A...>{});
    }
    template <size_t... I> static void CallWith(C* self, VARIANT* pArgs, VARIANT* pResult, std::index_sequence<I...>) {
        (void)pArgs;
        if constexpr (std::is_void_v<R>) {
            (self->*Member)(AfxFromVariant<std::decay_t<A>>(pArgs[I])...);
        } else {
            AfxToVariant((self->*Member)(AfxFromVariant<std::decay_t<A>>(pArgs[I])...), *pResult);
        }
    }
};

#define DECLARE_DISPATCH_MAP()                                                                                         \
protected:                                                                                                             \
    static const AFX_DISPMAP* GetThisDispatchMap();                                                                    \
    const AFX_DISPMAP* GetDispatchMap() const override;

#define BEGIN_DISPATCH_MAP(theClass, baseClass)                                                                        \
    const AFX_DISPMAP* theClass::GetDispatchMap() const {                                                              \
        return GetThisDispatchMap();                                                                                   \
    }                                                                                                                  \
    const AFX_DISPMAP* theClass::GetThisDispatchMap() {                                                                \
        using TheBaseClass = baseClass;                                                                                \
        static const AFX_DISPMAP_ENTRY _dispatchEntries[] = {

#define DISP_FUNCTION_ID(theClass, szExternalName, dispid, pfnMember, vtRetVal, vtsParams)                             \
    {szExternalName, dispid, vtRetVal, vtsParams, &AfxDispatchThunk<&theClass::pfnMember>::Call},
#define DISP_FUNCTION(theClass, szExternalName, pfnMember, vtRetVal, vtsParams)                                        \
    DISP_FUNCTION_ID(theClass, szExternalName, DISPID_UNKNOWN, pfnMember, vtRetVal, vtsParams)

#define END_DISPATCH_MAP()                                                                                             \
    { nullptr, 0, VT_EMPTY, nullptr, nullptr }                                                                         \
    }                                                                                                                  \
    ;                                                                                                                  \
    static const AFX_DISPMAP dispatchMap = {&TheBaseClass::GetThisDispatchMap, &_dispatchEntries[0]};                  \
    return &dispatchMap;                                                                                               \
    }

#define DECLARE_MESSAGE_MAP()                                                                                          \
protected:                                                                                                             \
    static const AFX_MSGMAP* GetThisMessageMap();                                                                      \
    virtual const AFX_MSGMAP* GetMessageMap() const;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                                         \
    const AFX_MSGMAP* theClass::GetMessageMap() const {                                                                \
        return GetThisMessageMap();                                                                                    \
    }                                                                                                                  \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {                                                                  \
        using ThisClass = theClass;                                                                                    \
        using TheBaseClass = baseClass;                                                                                \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {

#define END_MESSAGE_MAP()                                                                                              \
    { 0, 0, 0, 0, nullptr, nullptr }                                                                                   \
    }                                                                                                                  \
    ;                                                                                                                  \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]};                      \
    return &messageMap;                                                                                                \
    }

#define AFX_CODE(code) static_cast<UINT>(static_cast<WORD>(code))
#define AFX_SELF(t) static_cast<ThisClass*>(t)

// Window messages with raw parameters.
#define ON_MESSAGE(message, memberFxn)                                                                                 \
    {static_cast<UINT>(message), 0, 0, 0, nullptr, [](CCmdTarget* t, AFX_DISPATCH& d) -> BOOL {                        \
         *d.pResult = AFX_SELF(t)->memberFxn(d.wParam, d.lParam);                                                      \
         return TRUE;                                                                                                  \
     }},
#define ON_REGISTERED_MESSAGE(nMessageVariable, memberFxn)                                                             \
    {0xC000, 0, 0, 0, &nMessageVariable, [](CCmdTarget* t, AFX_DISPATCH& d) -> BOOL {                                  \
         *d.pResult = AFX_SELF(t)->memberFxn(d.wParam, d.lParam);                                                      \
         return TRUE;                                                                                                  \
     }},

// Commands from menus, accelerators and controls.
#define ON_COMMAND(id, memberFxn)                                                                                      \
    {0x0111,                                                                                                           \
     AFX_CODE(CN_COMMAND),                                                                                             \
     static_cast<UINT>(id),                                                                                            \
     static_cast<UINT>(id),                                                                                            \
     nullptr,                                                                                                          \
     [](CCmdTarget* t, AFX_DISPATCH&) -> BOOL {                                                                        \
         AFX_SELF(t)->memberFxn();                                                                                     \
         return TRUE;                                                                                                  \
     }},
#define ON_COMMAND_EX(id, memberFxn)                                                                                   \
    {0x0111,                                                                                                           \
     AFX_CODE(CN_COMMAND),                                                                                             \
     static_cast<UINT>(id),                                                                                            \
     static_cast<UINT>(id),                                                                                            \
     nullptr,                                                                                                          \
     [](CCmdTarget* t, AFX_DISPATCH& d) -> BOOL { return AFX_SELF(t)->memberFxn(d.nID); }},
#define ON_COMMAND_RANGE(id, idLast, memberFxn)                                                                        \
    {0x0111,                                                                                                           \
     AFX_CODE(CN_COMMAND),                                                                                             \
     static_cast<UINT>(id),                                                                                            \
     static_cast<UINT>(idLast),                                                                                        \
     nullptr,                                                                                                          \
     [](CCmdTarget* t, AFX_DISPATCH& d) -> BOOL {                                                                      \
         AFX_SELF(t)->memberFxn(d.nID);                                                                                \
         return TRUE;                                                                                                  \
     }},
#define ON_CONTROL(wNotifyCode, id, memberFxn)                                                                         \
    {0x0111,                                                                                                           \
     AFX_CODE(wNotifyCode),                                                                                            \
     static_cast<UINT>(id),                                                                                            \
     static_cast<UINT>(id),                                                                                            \
     nullptr,                                                                                                          \
     [](CCmdTarget* t, AFX_DISPATCH&) -> BOOL {                                                                        \
         AFX_SELF(t)->memberFxn();                                                                                     \
         return TRUE;                                                                                                  \
     }},
#define ON_CONTROL_RANGE(wNotifyCode, id, idLast, memberFxn)                                                           \
    {0x0111,                                                                                                           \
     AFX_CODE(wNotifyCode),                                                                                            \
     static_cast<UINT>(id),                                                                                            \
     static_cast<UINT>(idLast),                                                                                        \
     nullptr,                                                                                                          \
     [](CCmdTarget* t, AFX_DISPATCH& d) -> BOOL {                                                                      \
         AFX_SELF(t)->memberFxn(d.nID);                                                                                \
         return TRUE;                                                                                                  \
     }},

// Control notification codes of the standard controls.
#define ON_BN_CLICKED(id, memberFxn) ON_CONTROL(0, id, memberFxn)
#define ON_BN_DOUBLECLICKED(id, memberFxn) ON_CONTROL(5, id, memberFxn)
#define ON_BN_SETFOCUS(id, memberFxn) ON_CONTROL(6, id, memberFxn)
#define ON_BN_KILLFOCUS(id, memberFxn) ON_CONTROL(7, id, memberFxn)
#define ON_EN_SETFOCUS(id, memberFxn) ON_CONTROL(0x0100, id, memberFxn)
#define ON_EN_KILLFOCUS(id, memberFxn) ON_CONTROL(0x0200, id, memberFxn)
#define ON_EN_CHANGE(id, memberFxn) ON_CONTROL(0x0300, id, memberFxn)
#define ON_EN_UPDATE(id, memberFxn) ON_CONTROL(0x0400, id, memberFxn)
#define ON_CBN_SELCHANGE(id, memberFxn) ON_CONTROL(1, id, memberFxn)
#define ON_CBN_DBLCLK(id, memberFxn) ON_CONTROL(2, id, memberFxn)
#define ON_CBN_SETFOCUS(id, memberFxn) ON_CONTROL(3, id, memberFxn)
#define ON_CBN_KILLFOCUS(id, memberFxn) ON_CONTROL(4, id, memberFxn)
#define ON_CBN_EDITCHANGE(id, memberFxn) ON_CONTROL(5, id, memberFxn)
#define ON_CBN_DROPDOWN(id, memberFxn) ON_CONTROL(7, id, memberFxn)
#define ON_CBN_CLOSEUP(id, memberFxn) ON_CONTROL(8, id, memberFxn)
#define ON_CBN_SELENDOK(id, memberFxn) ON_CONTROL(9, id, memberFxn)
#define ON_LBN_SELCHANGE(id, memberFxn) ON_CONTROL(1, id, memberFxn)
#define ON_LBN_DBLCLK(id, memberFxn) ON_CONTROL(2, id, memberFxn)
#define ON_STN_CLICKED(id, memberFxn) ON_CONTROL(0, id, memberFxn)
#define ON_STN_DBLCLK(id, memberFxn) ON_CONTROL(1, id, memberFxn)

// Notifications (WM_NOTIFY).
#define ON_NOTIFY(wNotifyCode, id, memberFxn)                                                                          \
    {0x004E,                                                                                                           \
     AFX_CODE(wNotifyCode),                                                                                            \
     static_cast<UINT>(id),                                                                                            \
     static_cast<UINT>(id),                                                                                            \
     nullptr,                                                                                                          \
     [](CCmdTarget* t, AFX_DISPATCH& d) -> BOOL {                                                                      \
         auto* n = static_cast<AFX_NOTIFY*>(d.pExtra);                                                                 \
         AFX_SELF(t)->memberFxn(n->pNMHDR, n->pResult);                                                                \
         return TRUE;                                                                                                  \
     }},
#define ON_NOTIFY_RANGE(wNotifyCode, id, idLast, memberFxn)                                                            \
    {0x004E,                                                                                                           \
     AFX_CODE(wNotifyCode),                                                                                            \
     static_cast<UINT>(id),                                                                                            \
     static_cast<UINT>(idLast),                                                                                        \
     nullptr,                                                                                                          \
     [](CCmdTarget* t, AFX_DISPATCH& d) -> BOOL {                                                                      \
         auto* n = static_cast<AFX_NOTIFY*>(d.pExtra);                                                                 \
         AFX_SELF(t)->memberFxn(d.nID, n->pNMHDR, n->pResult);                                                         \
         return TRUE;                                                                                                  \
     }},
#define ON_NOTIFY_EX(wNotifyCode, id, memberFxn)                                                                       \
    {0x004E,                                                                                                           \
     AFX_CODE(wNotifyCode),                                                                                            \
     static_cast<UINT>(id),                                                                                            \
     static_cast<UINT>(id),                                                                                            \
     nullptr,                                                                                                          \
     [](CCmdTarget* t, AFX_DISPATCH& d) -> BOOL {                                                                      \
         auto* n = static_cast<AFX_NOTIFY*>(d.pExtra);                                                                 \
         return AFX_SELF(t)->memberFxn(d.nID, n->pNMHDR, n->pResult);                                                  \
     }},

// Reflected notifications, handled by the control itself before (or instead of) its parent.
#define ON_NOTIFY_REFLECT(wNotifyCode, memberFxn)                                                                      \
    {WM_REFLECT_BASE + 0x004E, AFX_CODE(wNotifyCode), 0, 0, nullptr, [](CCmdTarget* t, AFX_DISPATCH& d) -> BOOL {      \
         auto* n = static_cast<AFX_NOTIFY*>(d.pExtra);                                                                 \
         AFX_SELF(t)->memberFxn(n->pNMHDR, n->pResult);                                                                \
         return TRUE;                                                                                                  \
     }},
#define ON_NOTIFY_REFLECT_EX(wNotifyCode, memberFxn)                                                                   \
    {WM_REFLECT_BASE + 0x004E, AFX_CODE(wNotifyCode), 0, 0, nullptr, [](CCmdTarget* t, AFX_DISPATCH& d) -> BOOL {      \
         auto* n = static_cast<AFX_NOTIFY*>(d.pExtra);                                                                 \
         return AFX_SELF(t)->memberFxn(n->pNMHDR, n->pResult);                                                         \
     }},
#define ON_CONTROL_REFLECT(wNotifyCode, memberFxn)                                                                     \
    {WM_REFLECT_BASE + 0x0111, AFX_CODE(wNotifyCode), 0, 0, nullptr, [](CCmdTarget* t, AFX_DISPATCH&) -> BOOL {        \
         AFX_SELF(t)->memberFxn();                                                                                     \
         return TRUE;                                                                                                  \
     }},
#define ON_CONTROL_REFLECT_EX(wNotifyCode, memberFxn)                                                                  \
    {WM_REFLECT_BASE + 0x0111, AFX_CODE(wNotifyCode), 0, 0, nullptr, [](CCmdTarget* t, AFX_DISPATCH&) -> BOOL {        \
         return AFX_SELF(t)->memberFxn();                                                                              \
     }},
#define ON_BN_CLICKED_REFLECT(memberFxn) ON_CONTROL_REFLECT(0, memberFxn)
