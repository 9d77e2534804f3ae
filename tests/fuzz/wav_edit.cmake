# The edit target: every edit of Covarne2005 on arbitrary bytes (included from
# this folder's CMakeLists.txt, after kit_add_fuzz_target is defined).
if(TARGET Covarne::Covarne)
  kit_add_fuzz_target(wav_edit SOURCE fuzz_wav_edit.cpp LIBS Covarne::Covarne)
endif()
