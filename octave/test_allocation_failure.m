% When the host cannot provide the module's working memory, Octave's mxCalloc
% raises its own error ("vendral: failed to allocate N bytes of memory", no
% identifier) instead of returning null, so the module's out-of-memory message
% is not what an Octave user sees. Checked here with this process's address
% space capped (prlimit) just above what it already uses, as the user's guide
% documents it; the call must leave the session working.
1;
addpath (fullfile (fileparts (mfilename ('fullpath')), 'testing'));
[build_dir, source_dir, scratch] = test_folders ();
addpath (build_dir);

function kib = address_space_kib ()
  kib = str2double (regexp (fileread ('/proc/self/status'), 'VmSize:\s*(\d+)', 'tokens', 'once'){1});
end

function cap_address_space (soft_limit)
  [status, output] = system (sprintf ('prlimit --pid %d --as=%s:', getpid (), soft_limit));
  expect (status == 0, 'prlimit --as=%s: %s', soft_limit, output);
end

rows = 2e7;
Templates = zeros (rows, 2);
NLabels = ones (rows, 1);
% The module copies Templates and NLabels first (about 480 MB here); 64 MB
% of headroom cannot hold them.
cap_address_space (sprintf ('%d', (address_space_kib () + 65536) * 1024));
raised = [];
try
  labels = vendral (Templates, NLabels, 0, 2, 1, [0 0], -1, 0);
catch raised
end
cap_address_space ('unlimited');
expect (~isempty (raised), 'no error with the address space capped');
expect (~isempty (regexp (raised.message, '^vendral: failed to allocate \d+ bytes of memory$', 'once')), ...
        'message: "%s"', raised.message);
expect_equal (raised.identifier, '', 'identifier of Octave''s own allocation error');

labels = vendral ([0; 1], [1; 2], 0, 2, 1, [0.2; 0.9], -1, 0);
expect_equal (labels, [1; 2], 'a call after the failure');
printf ('octave_allocation_failure: "%s"; all checks passed\n', raised.message);
