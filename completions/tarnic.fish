# fish completion for tarnic: its options, demo names (.dm3 and .dm_48), folders
# for --output-dir.

complete -c tarnic -l batch -d 'Convert every file and folder named'
complete -c tarnic -l output-dir -x -a '(__fish_complete_directories)' -d 'Write outputs under this folder'
complete -c tarnic -l jobs -x -d 'Conversions at once'
complete -c tarnic -l skip-existing -d 'Leave inputs whose output exists'
complete -c tarnic -l verbose -d "Print each input's diagnostics"
complete -c tarnic -l verify -d 'Check that each demo is well-formed'
complete -c tarnic -l info -d 'Describe each demo'
complete -c tarnic -l json -d 'One JSON document, with --verify or --info'
complete -c tarnic -s h -l help -d 'Print the help and exit'
complete -c tarnic -l version -d 'Print the version and exit'
complete -c tarnic -x -a '(__fish_complete_path (commandline -ct) | string match -r -i -- "^.*(?:/|\.dm3|\.dm_48)(?:\t.*)?\$")'
