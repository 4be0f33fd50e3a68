/* ombrix: the ordered red-black tree.
 *
 * A tree stores item pointers in the order of their keys; it never copies an
 * item or a key, so the caller keeps every added item alive, and unchanged in
 * its key fields, while it is in the tree. Adding a key that is already there
 * keeps the existing node and its pointer.
 *
 * Besides the container made by treeNew, the four engine routines
 * (treeAddCommon, treeFindOrAdd, treeFindCommon, treeRemoveCommon) work on a
 * tree whose root, sentinel and node blocks the caller holds: the chained
 * hash map keeps one such tree per long bucket. They may be used on a
 * container's own root as well.
 *
 * The tree has no lock: one thread at a time. */
#ifndef OMBRIX_TREE_H
#define OMBRIX_TREE_H

#include <stdint.h>

#include "ombrix/container.h"
#include "ombrix/host.h"

#ifdef __cplusplus
extern "C" {
#endif

/* flags bit 8: byte-string parts and keys compare normalised (UTF-8, case
 * as the tie-break, trailing blanks ignored). */
#define OMBRIX_TREE_NORMALIZED 0x100u

/* Begins with the key definition. The engine reads keyMode, keyPartCount,
 * keyParts, reverseOrder, nodesPerBlock and flags bit 8; another container
 * handing its own record to the engine lays these members out the same way. */
typedef struct OmbrixTreeParms {
    uint32_t keyMode;         /* 0 is kept as 2 in the tree's copy */
    int32_t keyPartCount;
    OmbrixKeyPart *keyParts;  /* in the tree's copy: the tree's own copy */
    uint8_t reverseOrder;     /* inverts variable-length and pointer keys */
    OMBRIX_AFTER_KEY_DEFINITION int32_t nodesPerBlock;    /* nodes per allocation; 0 = one at a time */
    uint32_t flags;           /* bit 0: own pool unlocked; bit 8: normalised */
} OmbrixTreeParms;

/* One stored item. The sentinel, one per tree, is a zero-filled node (black,
 * null links) that stands for every missing child and for the root's parent.
 * The entry iterator hands out nodes: read keySize and key, change nothing. */
typedef struct OmbrixTreeNode OmbrixTreeNode;
struct OmbrixTreeNode {
    int32_t keySize;   /* written only for variable-length keys (mode 1) */
    void *key;         /* the caller's key or item pointer */
    uint8_t red;       /* 1 red, 0 black */
    /* In the padding before `left`: a tree keyed by one signed 32-bit part
     * read without following a pointer keeps a copy of the key here, so that
     * a walk reads nodes only. Other trees leave it unwritten. */
    int32_t keyCopy;
    OmbrixTreeNode *left;
    OmbrixTreeNode *right;
    OmbrixTreeNode *parent;
};

/* The handle treeNew returns points here, at the parameter pointer; the
 * tree's private state lies just before it. */
typedef struct OmbrixTree OmbrixTree;
struct OmbrixTree {
    OmbrixTreeParms *parms;

    /* Operations, in table order. */
    void (*destroy)(OmbrixTree *tree);
    QVStatus (*add)(OmbrixTree *tree, const void *key);
    QVStatus (*remove)(OmbrixTree *tree, const void *key);
    void *(*find)(OmbrixTree *tree, const void *key);
    QVStatus (*addWithKeySize)(OmbrixTree *tree, const void *key, int32_t keySize);
    QVStatus (*removeWithKeySize)(OmbrixTree *tree, const void *key, int32_t keySize);
    void *(*findWithKeySize)(OmbrixTree *tree, const void *key, int32_t keySize);
    uint32_t (*size)(OmbrixTree *tree);
    QVStatus (*toBlob)(OmbrixTree *tree, void *buffer);
    uint64_t (*getBlobSize)(OmbrixTree *tree);
    QVStatus (*merge)(OmbrixTree *tree, OmbrixTree *other);
    QVStatus (*mergeFromBlob)(OmbrixTree *tree, const OmbrixBlob *blob);
    QVStatus (*reset)(OmbrixTree *tree);
    OmbrixIterator (*iterator)(OmbrixTree *tree);
    OmbrixIterator (*entryIterator)(OmbrixTree *tree);
    OmbrixTree *(*clone)(OmbrixTree *tree);
    QVStatus (*stat)(OmbrixTree *tree);
    QVStatus (*print)(OmbrixTree *tree);
};

/* A tree from `pool`, or from a pool of its own named "ombrixt" when pool is
 * null; null when out of memory or refused a pool. */
OmbrixTree *treeNew(QVWord *pool, OmbrixTreeParms parms);
void treeDestroy(OmbrixTree *tree);

/* Key size: for variable-length keys 0 means a NUL-terminated UTF-8 string
 * measured with UTF8_BLEN; otherwise below 1 means the sum of the part sizes,
 * or 8 without parts. The plain forms pass 0. */
QVStatus treeAdd(OmbrixTree *tree, const void *key);
QVStatus treeAddWithKeySize(OmbrixTree *tree, const void *key, int32_t keySize);
/* 0 whether or not a node was removed. */
QVStatus treeRemove(OmbrixTree *tree, const void *key);
QVStatus treeRemoveWithKeySize(OmbrixTree *tree, const void *key, int32_t keySize);
/* The stored pointer of the equal key, or null. */
void *treeFind(OmbrixTree *tree, const void *key);
void *treeFindWithKeySize(OmbrixTree *tree, const void *key, int32_t keySize);

/* The sum of partSize over the tree's key parts. */
int32_t treeGetKeySize(OmbrixTree *tree);
/* Number of nodes, counted anew at each call. */
uint32_t treeSize(OmbrixTree *tree);
/* Empties the tree; the nodes' memory returns with the pool. */
QVStatus treeReset(OmbrixTree *tree);
/* A new, empty tree in a pool of its own with the same parameters. */
OmbrixTree *treeClone(OmbrixTree *tree);
/* 1 when both trees order keys the same way. */
uint8_t isTreeMergeable(OmbrixTree *tree, OmbrixTree *other);
/* Moves nothing; 0. */
QVStatus treeMerge(OmbrixTree *tree, OmbrixTree *other);

/* The tree has no blob form: these change nothing. */
QVStatus treeToBlob(OmbrixTree *tree, void *buffer);
uint64_t treeGetBlobSize(OmbrixTree *tree);
QVStatus treeMergeFromBlob(OmbrixTree *tree, const OmbrixBlob *blob);
OmbrixTree *treeNewFromBlob(QVWord *pool, const OmbrixBlob *blob);

/* Iterators walk in ascending key order: the key iterator hands out the
 * stored pointers, the entry iterator the nodes. Their pools are "ombrixt
 * iter" and "ombrixt entry iter". */
OmbrixIterator treeIterator(OmbrixTree *tree);
OmbrixIterator treeEntryIterator(OmbrixTree *tree);

/* Level-order dump of a tree keyed by one signed 32-bit part, on standard
 * output: "5, 3(r), 8(r), #, #, #, #". Prints nothing for other keys. */
QVStatus treePrint(OmbrixTree *tree);

/* Node count on standard output ("\ntotal elements: 7\n"), counted with a
 * temporary hash map of node depths in the tree's pool: 0, 0x803fc002, or
 * the map's refusal. treeHeight counts the nodes of the subtree at `node`
 * (0 for the sentinel), recording each one's depth, from `depth` down, in
 * `depths`; a refused record goes to *status and leaves that node's
 * children uncounted. */
struct OmbrixHashMap;
QVStatus treeStat(OmbrixTree *tree);
uint32_t treeHeight(OmbrixTree *tree, struct OmbrixHashMap *depths, OmbrixTreeNode *node,
                    int32_t depth, QVStatus *status);

/* In-order navigation; null for the sentinel and past the last node. */
OmbrixTreeNode *treeMinimum(OmbrixTreeNode *node, OmbrixTreeNode *sentinel);
OmbrixTreeNode *treeSuccessor(OmbrixTreeNode *node, OmbrixTreeNode *sentinel);

/* Engine routines over a caller-held tree. The node block slots may be null
 * (then every node is allocated on its own). Add and find-or-add return 0 or
 * 0x803fc002 with the tree unchanged; an equal key leaves the tree as it is,
 * and find-or-add then stores the existing node's key in *foundKey (when
 * given). Remove returns 0 whether or not it found the key. The key size is
 * used as given. */
QVStatus treeAddCommon(QVWord *pool, OmbrixTreeNode **root, OmbrixTreeNode *sentinel,
                       const OmbrixTreeParms *parms, const void *key, int32_t keySize,
                       OmbrixTreeNode **nodeBlock, int32_t *nodeBlockUsed);
QVStatus treeFindOrAdd(QVWord *pool, OmbrixTreeNode **root, OmbrixTreeNode *sentinel,
                       const OmbrixTreeParms *parms, const void *key, int32_t keySize,
                       OmbrixTreeNode **nodeBlock, int32_t *nodeBlockUsed, void **foundKey);
void *treeFindCommon(OmbrixTreeNode *root, OmbrixTreeNode *sentinel, const OmbrixTreeParms *parms,
                     const void *key, int32_t keySize);
QVStatus treeRemoveCommon(QVWord *pool, OmbrixTreeNode **root, OmbrixTreeNode *sentinel,
                          const OmbrixTreeParms *parms, const void *key, int32_t keySize);

#ifdef __cplusplus
}
#endif

#endif
