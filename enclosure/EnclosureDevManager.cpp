#include "enclosure/EnclosureDevManager.h"

#include "platform/base/handle.h"
#include "platform/base/sync.h"
#include "platform/base/clock.h"
#include "platform/base/thread.h"
#include "platform/ui/message.h"
#include "platform/ui/window.h"

CEnclosureDevManager::CEnclosureDevManager() = default;

CEnclosureDevManager::~CEnclosureDevManager() {
    Stop();
}

BOOL CEnclosureDevManager::Start(HWND hReportWnd, LPARAM lButtonReport, int nOpenArg, BOOL bPoll, BOOL bWait) {
    if (m_hThread)
        return TRUE;
    for (auto& entry : m_letters)
        entry = nullptr;
    m_hWake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    m_hStarted = bWait ? CreateEventW(nullptr, FALSE, FALSE, nullptr) : nullptr;
    m_hReportWnd = hReportWnd;
    m_lButtonReport = lButtonReport;
    m_nOpenArg = nOpenArg;
    m_bPoll = bPoll;
    m_bStop = 0;
    m_hThread = CreateThread(nullptr, 0, &CEnclosureDevManager::ThreadProc, this, 0, &m_dwThreadId);
    if (!m_hThread)
        return FALSE;
    if (m_hStarted)
        WaitForSingleObject(m_hStarted, INFINITE);
    return TRUE;
}

BOOL CEnclosureDevManager::Stop() {
    if (!m_hThread)
        return TRUE;
    InterlockedExchange(&m_bStop, 1);
    SetEvent(m_hWake);
    // The worker may be sending a button report to this thread right now: serve sent messages while waiting, or
    // the worker would sit in its send until it is terminated, with the LEDs left on and the chips open.
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= 10000) {
            TerminateThread(m_hThread, 0);
            break;
        }
        const DWORD result = MsgWaitForMultipleObjects(1, &m_hThread, FALSE, 10000 - elapsed, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0)
            break;
        if (result == WAIT_OBJECT_0 + 1) {
            MSG msg;
            PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
            continue;
        }
        if (result != WAIT_TIMEOUT)
            WaitForSingleObject(m_hThread, 10000);
    }
    CloseHandle(m_hThread);
    m_hThread = nullptr;
    m_dwThreadId = 0;
    CloseHandle(m_hWake);
    m_hWake = nullptr;
    if (m_hStarted)
        CloseHandle(m_hStarted);
    m_hStarted = nullptr;
    return TRUE;
}

BOOL CEnclosureDevManager::Queue(BYTE letter, int nCode, HWND hReportWnd, LPARAM lReport) {
    {
        std::lock_guard guard(m_lock);
        m_queue.push_back({letter, nCode, hReportWnd, lReport});
    }
    if (m_hWake)
        SetEvent(m_hWake);
    return TRUE;
}

BOOL CEnclosureDevManager::BindLetter(BYTE letter, LPCTSTR lpszId) {
    if (letter < 'A' || letter > 'Z' || m_devs.empty())
        return FALSE;
    for (const auto& dev : m_devs)
        if (dev->MatchHardwareId(lpszId)) {
            m_letters[letter - 'A'] = dev.get();
            return TRUE;
        }
    return FALSE;
}

BOOL CEnclosureDevManager::UnbindLetter(BYTE letter) {
    if (letter < 'A' || letter > 'Z')
        return FALSE;
    const BOOL wasSet = m_letters[letter - 'A'] != nullptr;
    m_letters[letter - 'A'] = nullptr;
    return wasSet;
}

CEnclosureDev* CEnclosureDevManager::GetBoundDev(BYTE letter) const {
    return letter >= 'A' && letter <= 'Z' ? m_letters[letter - 'A'].load() : nullptr;
}

DWORD WINAPI CEnclosureDevManager::ThreadProc(LPVOID pParam) {
    return static_cast<CEnclosureDevManager*>(pParam)->Run();
}

DWORD CEnclosureDevManager::Run() {
    // Every registered chip class gets one object, whether its library loads or not.
    for (ENCLOSURE_DEV_CLASS* entry = GetEnclosureDevClassList(); entry; entry = entry->pNext) {
        std::unique_ptr<CEnclosureDev> dev(entry->pfnCreate());
        if (!dev)
            continue;
        dev->Init(m_nOpenArg);
        m_devs.insert(m_devs.begin(), std::move(dev));
    }
    if (m_hStarted)
        SetEvent(m_hStarted);
    for (;;) {
        const DWORD wait = WaitForSingleObject(m_hWake, 500);
        if (m_bStop)
            break;
        if (wait == WAIT_OBJECT_0) {
            for (;;) {
                Command command;
                {
                    std::lock_guard guard(m_lock);
                    if (m_queue.empty())
                        break;
                    command = m_queue.front();
                    m_queue.pop_front();
                }
                Execute(command);
                if (command.nCode != ENCLOSURE_CMD_LIST_MODELS && command.hReportWnd)
                    PostMessageW(command.hReportWnd, WM_ENCLOSURE_REPORT, 0, command.lReport);
            }
        } else if (wait == WAIT_TIMEOUT && m_bPoll) {
            PollButton();
        }
    }
    // Commands still queued are dropped; the LEDs go off once.
    {
        std::lock_guard guard(m_lock);
        m_queue.clear();
    }
    Execute({ENCLOSURE_ALL_LETTERS, ENCLOSURE_CMD_BOTH_OFF, nullptr, 0});
    for (auto& entry : m_letters)
        entry = nullptr;
    for (auto& dev : m_devs)
        dev->Close();
    m_devs.clear();
    return 0;
}

void CEnclosureDevManager::RunOnDev(CEnclosureDev* pDev, BYTE letter, int nCode) {
    switch (nCode) {
    case ENCLOSURE_CMD_OPEN:
        pDev->Enumerate();
        break;
    case ENCLOSURE_CMD_BOTH_ON:
        pDev->SetBothLeds(letter, TRUE);
        break;
    case ENCLOSURE_CMD_BOTH_OFF:
        pDev->SetBothLeds(letter, FALSE);
        break;
    case ENCLOSURE_CMD_READY_ON:
        pDev->SetReadyLed(letter, TRUE);
        break;
    case ENCLOSURE_CMD_READY_OFF:
        pDev->SetReadyLed(letter, FALSE);
        break;
    case ENCLOSURE_CMD_SECURE_ON:
        pDev->SetSecureLed(letter, TRUE);
        break;
    case ENCLOSURE_CMD_SECURE_OFF:
        pDev->SetSecureLed(letter, FALSE);
        break;
    default:
        break;
    }
}

void CEnclosureDevManager::Execute(const Command& command) {
    if (command.nCode == ENCLOSURE_CMD_LIST_MODELS) {
        if (!command.lReport)
            return;
        auto* record = reinterpret_cast<ENCLOSURE_MODEL_INFO*>(command.lReport);
        int rows = 0;
        for (const auto& dev : m_devs) {
            for (int row = 0; rows < 26; ++row, ++rows) {
                if (!dev->GetModelInfo(row, record->strName, record->wVendorId, record->wProductId, record->byte))
                    break;
                if (command.hReportWnd)
                    SendMessageW(command.hReportWnd, WM_ENCLOSURE_REPORT, ENCLOSURE_CMD_LIST_MODELS, command.lReport);
            }
        }
        return;
    }
    if (command.letter >= 'A' && command.letter <= 'Z') {
        if (CEnclosureDev* dev = m_letters[command.letter - 'A'])
            RunOnDev(dev, command.letter, command.nCode);
        return;
    }
    if (command.letter != ENCLOSURE_ALL_LETTERS)
        return;
    for (const auto& entry : m_letters)
        if (CEnclosureDev* dev = entry.load())
            RunOnDev(dev, command.letter, command.nCode);
}

void CEnclosureDevManager::PollButton() {
    if (!m_hReportWnd)
        return;
    for (const auto& entry : m_letters) {
        CEnclosureDev* dev = entry.load();
        if (dev && dev->IsButtonPressed() && IsWindow(m_hReportWnd))
            SendMessageW(m_hReportWnd, WM_ENCLOSURE_REPORT, 0, m_lButtonReport);
    }
}
