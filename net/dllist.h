// Doubly linked list of untyped entries with a built-in iteration cursor.
//
// Nodes come from the heap or from a CListPool, a fixed stock allocated once
// so that list operations need no heap calls. A list with a pool is guarded
// by the pool's re-entrant lock (Insert and Remove take it; an iterating
// caller brackets its walk with EnterLock/ReleaseLock). A list without a pool
// has no lock; its user guards it. The list stores entries but never owns
// them.
//
// Removal during an iteration: Remove clears the cursor when it stands on the
// removed node, so the next step of that iteration returns null. A position
// handed to GetNextEntry/GetPrevEntry that differs from the cursor is only
// followed after checking by address that it is a node of this list; a
// removed (possibly freed) node is therefore never read and ends the walk.
#pragma once

#include <cstdint>

#include "net/thread.h"

struct _dlList
{
    void* entry;
    // 1 while the node is part of a list, 0 otherwise.
    std::uint32_t linked;
    // Towards the tail; in a pool's free stock the next free node.
    _dlList* next;
    _dlList* prev;
};

inline constexpr std::uint32_t DLLIST_NO_NODE = 0xFFFFFFFF;  // Insert found no node

class CListPool final
{
public:
    // A pool whose block cannot be allocated has no nodes: Get returns null.
    explicit CListPool(std::uint32_t dwNodes);
    // Lists that still hold nodes of the pool must be gone first.
    ~CListPool();
    CListPool(const CListPool&) = delete;
    CListPool& operator=(const CListPool&) = delete;

    // A free node with all fields cleared, or null when the pool is exhausted.
    _dlList* Get();
    // Returns a node to the free stock; always 0.
    std::uint32_t Put(_dlList* pNode);
    std::uint32_t GetFree();

    void EnterLock() { m_Lock.Lock(); }
    void ReleaseLock() { m_Lock.UnLock(); }

private:
    CMutex m_Lock;
    _dlList* m_pFree = nullptr;
    _dlList* m_pBlock = nullptr;
};

class CDllist final
{
public:
    explicit CDllist(CListPool* pPool = nullptr);
    // Gives every node back; the entries are not touched.
    ~CDllist();
    CDllist(const CDllist&) = delete;
    CDllist& operator=(const CDllist&) = delete;

    // Appends the entry. 0, or DLLIST_NO_NODE when no node could be obtained
    // (an exhausted pool does not fall back to the heap).
    std::uint32_t Insert(void* pEntry);
    // Removes the first node (from the head) holding the entry, if any.
    void Remove(void* pEntry);

    // Iteration. ppPos may be null; when given, it receives the node of the
    // returned entry, and a caller may resume from it later. A null result
    // ends the iteration (also for a stored null entry).
    void* Start(_dlList** ppPos);
    void* End(_dlList** ppPos);
    void* GetNextEntry(_dlList** ppPos);
    void* GetPrevEntry(_dlList** ppPos);

    void EnterLock();
    void ReleaseLock();
    std::uint32_t GetCount() const { return m_dwCount; }

private:
    _dlList* Step(_dlList** ppPos, bool bForward);
    bool Contains(const _dlList* pNode) const;
    void Release(_dlList* pNode);

    _dlList* m_pHead = nullptr;
    _dlList* m_pTail = nullptr;
    _dlList* m_pCursor = nullptr;
    std::uint32_t m_dwCount = 0;
    CListPool* m_pPool = nullptr;
};
