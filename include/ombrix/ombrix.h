/* ombrix: in-memory containers and text routines for the QV host. */
#ifndef OMBRIX_OMBRIX_H
#define OMBRIX_OMBRIX_H

#include "ombrix/host.h"
#include "ombrix/container.h"
#include "ombrix/extension.h"
#include "ombrix/messages.h"
#include "ombrix/case.h"
#include "ombrix/primitives.h"
#include "ombrix/linked_list.h"
#include "ombrix/utf.h"
#include "ombrix/utf8.h"
#include "ombrix/string_buffer.h"
#include "ombrix/array_list.h"
#include "ombrix/thin_array_list.h"
#include "ombrix/storage.h"
#include "ombrix/tree.h"
#include "ombrix/hash_map.h"

#endif
