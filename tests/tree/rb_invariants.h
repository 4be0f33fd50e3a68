// Checks a red-black tree node by node: the rules every add and remove must
// keep, and the links they rewrite.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "ombrix/tree.h"

struct RbShape {
    bool valid = true;
    int blackHeight = 0;
    int height = 0;
    std::vector<OmbrixTreeNode *> inOrder;
};

namespace rbdetail {

// Black height of the subtree at node, or -1 after reporting a broken rule.
inline int check(OmbrixTreeNode *node, OmbrixTreeNode *sentinel, OmbrixTreeNode *parent,
                 int depth, RbShape *shape) {
    if (node == sentinel) return 1;
    if (!node) {
        ADD_FAILURE() << "a null link where the sentinel belongs";
        return -1;
    }
    if (depth > shape->height) shape->height = depth;
    if (node->parent != parent) {
        ADD_FAILURE() << "a node's parent link does not lead to its parent";
        return -1;
    }
    if (node->red > 1) {
        ADD_FAILURE() << "colour byte " << int(node->red);
        return -1;
    }
    if (node->red && (node->left->red || node->right->red)) {
        ADD_FAILURE() << "a red node has a red child";
        return -1;
    }
    int left = check(node->left, sentinel, node, depth + 1, shape);
    if (left < 0) return -1;
    shape->inOrder.push_back(node);
    int right = check(node->right, sentinel, node, depth + 1, shape);
    if (right < 0) return -1;
    if (left != right) {
        ADD_FAILURE() << "black heights differ below a node: " << left << " and " << right;
        return -1;
    }
    return left + (node->red ? 0 : 1);
}

}  // namespace rbdetail

// Root black, no red node with a red child, equal black height on every
// path, parent links consistent, the sentinel black with null children.
inline RbShape checkRedBlack(OmbrixTreeNode *root, OmbrixTreeNode *sentinel) {
    RbShape shape;
    EXPECT_EQ(sentinel->red, 0) << "the sentinel turned red";
    EXPECT_EQ(sentinel->left, nullptr) << "the sentinel's left link was written";
    EXPECT_EQ(sentinel->right, nullptr) << "the sentinel's right link was written";
    if (root != sentinel && root->red) {
        ADD_FAILURE() << "the root is red";
        shape.valid = false;
    }
    int black = rbdetail::check(root, sentinel, sentinel, 1, &shape);
    if (black < 0) shape.valid = false;
    shape.blackHeight = black;
    return shape;
}
