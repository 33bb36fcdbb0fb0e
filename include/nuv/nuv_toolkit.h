// Every public header of the library in one include.
#pragma once

#include <nuv/nuv_export.h>
#include <nuv/nuv_enum_base.h>
#include <nuv/nuv_aes.h>
#include <nuv/nuv_md5.h>
#include <nuv/nuv_fstream.h>
#include <nuv/nuv_zstream.h>
#include <nuv/nuv_hash_lite.h>
#include <nuv/nuv_hash_helper.h>
#include <nuv/nuv_bloom_filter.h>
#include <nuv/nuv_regexp.h>
#include <nuv/nuv_tokenizer.h>
#include <nuv/nuv_string_pool.h>
#include <nuv/nuv_profiler.h>
