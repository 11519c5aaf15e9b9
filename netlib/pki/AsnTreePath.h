#pragma once
// The '|'-separated path queries the certificate and name code read the ASN.1
// element tree with, in the syntax of ClsXml::resolvePath. This one moves a
// bare TreeNode cursor: those trees are built straight from the decoded items
// and never held by a ClsXml.
#include "netlib/core/StringBuffer.h"

namespace tessik {

class LogBase;
class TreeNode;

// Steps from current: "..", a name, name[i] (i-th child of that name), "/T/name",
// "/C/name,text", "/A/name,attr,value" (first match breadth-first, current
// included); empty pieces are skipped. The last piece: "*" content into out,
// "$" the reached node becomes current, "(attr)" the attribute into out, ""
// true. out is emptied first; current stays put on failure.
bool resolveTreePath(TreeNode*& current, const char* path, StringBuffer& out, LogBase& log);

// A copy of an element of the ASN.1 rendering and its subtree (tag, text and
// the vocabulary's attributes), under parent or as a new root. It stands in
// for serializing the element and loading the text into a new tree.
TreeNode* copyAsnElement(const TreeNode* element, TreeNode* parent);

} // namespace tessik
