// Key parts, tree parameters and the red-black check as the tree tests use them.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "ombrix/tree.h"

// A part read in place from the item (one level) at `offset`.
inline OmbrixKeyPart directPart(uint32_t type, int32_t size, int32_t offset = 0, uint32_t option = 0) {
    return {type, size, 1, {offset, 0, 0, 0, 0}, option};
}

inline OmbrixTreeParms treeParms(uint32_t mode, OmbrixKeyPart *parts = nullptr, int32_t count = 0,
                                 int32_t perBlock = 0, uint8_t reverse = 0, uint32_t flags = 0) {
    return {mode, count, parts, reverse, perBlock, flags};
}

// Appends the subtree's keys in order; its black height, or -1 after reporting the first broken rule or link.
inline int checkRedBlackAt(OmbrixTreeNode *node, OmbrixTreeNode *sentinel, OmbrixTreeNode *parent,
                           std::vector<const void *> *keys) {
    if (node == sentinel) return 1;
    const char *broken = !node ? "a null link where the sentinel belongs"
                         : node->parent != parent ? "a parent link leads elsewhere"
                         : node->red > 1 ? "a colour byte other than 0 and 1"
                         : node->red && (node->left->red || node->right->red) ? "a red node has a red child" : nullptr;
    int left = broken ? -1 : checkRedBlackAt(node->left, sentinel, node, keys);
    if (left >= 0) keys->push_back(node->key);
    int right = left < 0 ? -1 : checkRedBlackAt(node->right, sentinel, node, keys);
    if (!broken && right >= 0 && left != right) broken = "black heights differ below a node";
    if (broken) ADD_FAILURE() << broken;
    return broken || right < 0 ? -1 : left + !node->red;
}

// The keys in order, after checking every rule, every link, and that the
// sentinel stayed black without children.
inline std::vector<const void *> redBlackKeys(OmbrixTreeNode *root, OmbrixTreeNode *sentinel) {
    std::vector<const void *> keys;
    EXPECT_TRUE(!sentinel->red && !sentinel->left && !sentinel->right) << "the sentinel was written";
    EXPECT_TRUE(root == sentinel || !root->red) << "the root is red";
    checkRedBlackAt(root, sentinel, sentinel, &keys);
    return keys;
}
