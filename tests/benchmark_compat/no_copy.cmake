# Compiles SOURCE to assembly with COMPILER at -O2 against the front end's
# header (INCLUDE) and fails if the code copies memory: a block move, a
# memcpy call or vector loads and stores.
execute_process(COMMAND ${COMPILER} -std=c++17 -O2 -S -o - -I${INCLUDE} ${SOURCE}
                OUTPUT_VARIABLE assembly ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${SOURCE} does not compile:\n${err}")
endif()
string(REGEX MATCHALL "[^\n]*(memcpy|rep[ \t]+movs|movdq|movup|movap)[^\n]*" copies "${assembly}")
if(copies)
  message(FATAL_ERROR "DoNotOptimize copies its operand:\n${copies}")
endif()
