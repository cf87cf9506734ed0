# What `cmake --graphviz` draws (scripts/deps-graph): the project's libraries
# and programs, without the test, benchmark and fuzz programs, the warning
# settings and the outside libraries.
set(GRAPHVIZ_GRAPH_NAME "velmora")
set(GRAPHVIZ_EXTERNAL_LIBS FALSE)
set(GRAPHVIZ_GENERATE_PER_TARGET FALSE)
set(GRAPHVIZ_GENERATE_DEPENDERS FALSE)
set(GRAPHVIZ_IGNORE_TARGETS "_test$" "_bench$" "_fuzz$" "^velmora_warnings$" "^velmora_pack_skin_archive$"
    "^velmora_data$" "^velmora_skin$")
