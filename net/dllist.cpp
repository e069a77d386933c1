// Pooled doubly linked list.
#include "net/dllist.h"

#include <new>

CListPool::CListPool(std::uint32_t dwNodes)
{
    m_pBlock = new (std::nothrow) _dlList[dwNodes];
    if (m_pBlock == nullptr)
        return;
    // Pushed first to last: the pool hands out the block's last node first.
    CMutexLocker lock(m_Lock);
    for (std::uint32_t i = 0; i < dwNodes; ++i) {
        m_pBlock[i] = _dlList{};
        m_pBlock[i].next = m_pFree;
        m_pFree = &m_pBlock[i];
    }
}

CListPool::~CListPool()
{
    delete[] m_pBlock;
}

_dlList* CListPool::Get()
{
    CMutexLocker lock(m_Lock);
    _dlList* pNode = m_pFree;
    if (pNode != nullptr) {
        m_pFree = pNode->next;
        *pNode = _dlList{};
    }
    return pNode;
}

std::uint32_t CListPool::Put(_dlList* pNode)
{
    CMutexLocker lock(m_Lock);
    pNode->next = m_pFree;
    m_pFree = pNode;
    return 0;
}

std::uint32_t CListPool::GetFree()
{
    // Taken although only reading: another thread may be pushing or popping.
    CMutexLocker lock(m_Lock);
    std::uint32_t dwFree = 0;
    for (const _dlList* pNode = m_pFree; pNode != nullptr; pNode = pNode->next)
        ++dwFree;
    return dwFree;
}

CDllist::CDllist(CListPool* pPool) : m_pPool(pPool)
{
}

CDllist::~CDllist()
{
    EnterLock();
    _dlList* pNode = m_pHead;
    while (pNode != nullptr) {
        _dlList* pNext = pNode->next;
        pNode->linked = 0;
        Release(pNode);
        pNode = pNext;
    }
    m_pHead = m_pTail = m_pCursor = nullptr;
    m_dwCount = 0;
    ReleaseLock();
}

std::uint32_t CDllist::Insert(void* pEntry)
{
    _dlList* pNode = m_pPool != nullptr ? m_pPool->Get() : new (std::nothrow) _dlList{};
    if (pNode == nullptr)
        return DLLIST_NO_NODE;

    EnterLock();
    pNode->entry = pEntry;
    pNode->next = nullptr;
    pNode->prev = m_pTail;
    if (m_pTail == nullptr)
        m_pHead = pNode;
    else
        m_pTail->next = pNode;
    m_pTail = pNode;
    pNode->linked = 1;
    ++m_dwCount;
    ReleaseLock();
    return 0;
}

void CDllist::Remove(void* pEntry)
{
    EnterLock();
    _dlList* pNode = m_pHead;
    while (pNode != nullptr && pNode->entry != pEntry)
        pNode = pNode->next;
    if (pNode == nullptr) {
        ReleaseLock();
        return;
    }

    pNode->linked = 0;
    if (pNode->prev != nullptr)
        pNode->prev->next = pNode->next;
    else
        m_pHead = pNode->next;
    if (pNode->next != nullptr)
        pNode->next->prev = pNode->prev;
    else
        m_pTail = pNode->prev;
    // An iteration standing on this node ends with its next step; the cursor
    // must not keep a node that is about to be freed.
    if (m_pCursor == pNode)
        m_pCursor = nullptr;
    --m_dwCount;
    Release(pNode);
    ReleaseLock();
}

void* CDllist::Start(_dlList** ppPos)
{
    if (ppPos != nullptr)
        *ppPos = nullptr;
    m_pCursor = (m_pHead != nullptr && m_pHead->linked) ? m_pHead : nullptr;
    if (m_pCursor == nullptr)
        return nullptr;
    if (ppPos != nullptr)
        *ppPos = m_pCursor;
    return m_pCursor->entry;
}

void* CDllist::End(_dlList** ppPos)
{
    if (ppPos != nullptr)
        *ppPos = nullptr;
    m_pCursor = (m_pTail != nullptr && m_pTail->linked) ? m_pTail : nullptr;
    if (m_pCursor == nullptr)
        return nullptr;
    if (ppPos != nullptr)
        *ppPos = m_pCursor;
    return m_pCursor->entry;
}

void* CDllist::GetNextEntry(_dlList** ppPos)
{
    _dlList* pNode = Step(ppPos, true);
    return pNode != nullptr ? pNode->entry : nullptr;
}

void* CDllist::GetPrevEntry(_dlList** ppPos)
{
    _dlList* pNode = Step(ppPos, false);
    return pNode != nullptr ? pNode->entry : nullptr;
}

_dlList* CDllist::Step(_dlList** ppPos, bool bForward)
{
    if (ppPos != nullptr && *ppPos != nullptr && *ppPos != m_pCursor) {
        // A remembered position may name a node that was removed, and freed,
        // since; it is compared by address only and followed only if it is
        // still one of ours. Otherwise the iteration ends.
        m_pCursor = Contains(*ppPos) ? *ppPos : nullptr;
    }
    if (m_pCursor == nullptr)
        return nullptr;
    m_pCursor = m_pCursor->linked ? (bForward ? m_pCursor->next : m_pCursor->prev) : nullptr;
    if (m_pCursor != nullptr && ppPos != nullptr)
        *ppPos = m_pCursor;
    return m_pCursor;
}

bool CDllist::Contains(const _dlList* pNode) const
{
    for (const _dlList* p = m_pHead; p != nullptr; p = p->next)
        if (p == pNode)
            return true;
    return false;
}

void CDllist::Release(_dlList* pNode)
{
    if (m_pPool != nullptr)
        m_pPool->Put(pNode);
    else
        delete pNode;
}

void CDllist::EnterLock()
{
    if (m_pPool != nullptr)
        m_pPool->EnterLock();
}

void CDllist::ReleaseLock()
{
    if (m_pPool != nullptr)
        m_pPool->ReleaseLock();
}
