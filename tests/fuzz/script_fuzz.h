// What the compiled-script fuzz target does with its input: the first byte picks the consumer of
// the rest. Shared with the seed writer, which prefixes each seed with its consumer.
#pragma once

enum ScriptFuzzMode {
  SCRIPT_FUZZ_BODY = 0,      // a script body, bound and every line's arguments decoded
  SCRIPT_FUZZ_EXPR_INT = 1,  // byte code evaluated in modes 1 to 4
  SCRIPT_FUZZ_EXPR_FLOAT = 2,
  SCRIPT_FUZZ_EXPR_STR = 3,
  SCRIPT_FUZZ_EXPR_STR4 = 4,
  SCRIPT_FUZZ_ERRTEXTS = 5,  // "chbin\zpe.zbn"
  SCRIPT_FUZZ_CMDDEFS = 6,   // "chbin\zpc.zbn"
  SCRIPT_FUZZ_FILELIST = 7,  // "chbin\zpt_list.zbn"
  SCRIPT_FUZZ_VARDEFS = 8,   // "chbin\zpv.zbn", then declared
  SCRIPT_FUZZ_LABELS = 9,    // "chbin\zpl.zbn", then searched
  SCRIPT_FUZZ_MODES = 10,
};
