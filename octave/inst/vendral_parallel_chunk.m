%VENDRAL_PARALLEL_CHUNK  One worker's share of vendral_parallel (internal).
%
%  [labels, console] = vendral_parallel_chunk (Templates, NLabels, ...
%      kernel_type, norm_type, h, Patterns, unknown_label, oflag)
%
%  Calls vendral on the given rows of Patterns and returns its labels and
%  everything it printed.  vendral_parallel sends this function to its
%  worker processes and cluster servers, which must therefore have vendral
%  on their path; users call vendral_parallel instead.
%
%  See also vendral_parallel, vendral.

function [labels, console] = vendral_parallel_chunk (Templates, NLabels, ...
    kernel_type, norm_type, h, Patterns, unknown_label, oflag) %#ok<INUSL>
  console = evalc (['labels = vendral (Templates, NLabels, kernel_type, ', ...
                    'norm_type, h, Patterns, unknown_label, oflag);']);
end
