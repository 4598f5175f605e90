# fish completion for reposearch: its options, their values where they are
# few, files of strings for -f, pages for --html, exports (.xml files and
# folders) for the operands. Installed in share/fish/vendor_completions.d.

complete -c reposearch -s e -x -d 'Search for STRING'
complete -c reposearch -s f -l file -r -F -d 'Add every line of FILE as a search string'
complete -c reposearch -s w -l word -d 'Match whole words only'
complete -c reposearch -s q -l quiet -d 'Draw no progress'
complete -c reposearch -s j -l jobs -x -a '1 2 4 8' -d 'Search up to N exports at once'
complete -c reposearch -l json -d 'Write the hits as JSON Lines on standard output'
complete -c reposearch -s c -l count -d 'Print each export with its count of matching lines'
complete -c reposearch -s l -l files-with-matches -d 'Print the name of each export with a hit'
complete -c reposearch -l print -d 'Write each hit as EXPORT:LINE:COLUMN:CONTEXT :: DATA'
complete -c reposearch -l check -d 'Search nothing: tell where the reading loses or misplaces text'
complete -c reposearch -l color -x -a 'auto always never' -d 'Highlight the strings with --print'
complete -c reposearch -l in -x -a 'library= form= global= entry= menubar= glyph= sourcetype= model= table= field= element=' -d 'Count hits only where FIELD matches PATTERN'
complete -c reposearch -l not-in -x -a 'library= form= global= entry= menubar= glyph= sourcetype= model= table= field= element=' -d 'Count hits only where FIELD does not match'
complete -c reposearch -s A -l after-context -x -a '0 1 2 3 5 10 20' -d 'Lines of the element after each hit'
complete -c reposearch -s B -l before-context -x -a '0 1 2 3 5 10 20' -d 'Lines of the element before each hit'
complete -c reposearch -s C -l context -x -a '0 1 2 3 5 10 20' -d 'Lines of the element around each hit'
complete -c reposearch -l html -r -x -a '(__fish_complete_suffix .html)' -d 'Also write the hits to FILE as a page'
complete -c reposearch -l log -r -F -d 'Write the log to FILE (- for standard output)'
complete -c reposearch -s h -d 'Show the options at a glance'
complete -c reposearch -l help -d 'Show the whole help'
complete -c reposearch -l version -d 'Show the version'
# The operands: exports, .xml files and folders (- reads standard input).
complete -c reposearch -a '(__fish_complete_suffix .xml)'
complete -c reposearch -f
